#include "install/install_paths.h"

#include <string.h>

#include "base/path_limits.h"
#include "base/text.h"

namespace popbox {

bool ComposePath(char* target, const char* folder, const char* name) {
  size_t folderLength = strlen(folder);
  size_t nameLength = strlen(name);
  if (folderLength + 1 + nameLength > MAX_NAME_LENGTH) {
    target[0] = 0;
    return false;
  }
  memcpy(target, folder, folderLength);
  target[folderLength] = '\\';
  memcpy(target + folderLength + 1, name, nameLength + 1);
  return true;
}

void ParentFolderOf(char* path) {
  char* first = strchr(path, '\\');
  char* last = strrchr(path, '\\');
  if (!first) {
    path[0] = 0;
  } else if (first == last) {
    first[1] = 0;  // the root keeps its backslash: "C:\"
  } else {
    *last = 0;
  }
}

static bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsDeviceName(const char* element, size_t n) {
  size_t base = 0;
  while (base < n && element[base] != '.') ++base;
  while (base > 0 && element[base - 1] == ' ') --base;
  static const char* const devices[] = {"CON", "PRN", "AUX", "NUL"};
  if (base == 3) {
    for (const char* device : devices) {
      if (EqualNoCase(element, device, 3)) return true;
    }
  }
  if (base != 4 || !(EqualNoCase(element, "COM", 3) || EqualNoCase(element, "LPT", 3))) {
    return false;
  }
  // Windows reserves COM¹ to COM³ and LPT¹ to LPT³ too. The bytes of the
  // superscript digits in code page 1252 are refused in every code page,
  // since the setup cannot know which one the machine uses; so COMą, COMł
  // (1250) and COMі, COMІ, COM№ (1251) are refused too, a rare false refusal.
  uint8_t digit = static_cast<uint8_t>(element[3]);
  return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

bool IsSafeRecordName(const char* name) {
  if (!*name || IsSeparator(*name) || strchr(name, ':')) return false;
  const char* element = name;
  for (;;) {
    const char* end = element;
    while (*end && !IsSeparator(*end)) ++end;
    size_t n = static_cast<size_t>(end - element);
    if (n == 0) return false;
    // Windows drops dots and blanks at the end of an element, so "x." would
    // land on "x" and ".. " next to "..": an element may not end in either
    // ("." and ".." included).
    if (element[n - 1] == '.' || element[n - 1] == ' ') return false;
    if (IsDeviceName(element, n)) return false;
    if (!*end) return true;
    element = end + 1;
  }
}

}  // namespace popbox
