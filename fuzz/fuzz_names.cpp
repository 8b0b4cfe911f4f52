// Record names against the install folder. Input: one byte picks the
// install folder, the rest (up to a zero byte) is a record name.
//
// Every name that IsSafeRecordName accepts, below the folder and resolved as
// Windows resolves paths ('\' and '/' separate, empty and "." elements
// vanish, ".." goes up), names something strictly inside the folder.
// ComposePath fits its NAME_BUFFER_SIZE heap buffer or fails with an empty
// text. And every name the packer would write (elements that
// CheckNameElement accepts, joined by backslashes) is one the setup takes.
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "install/install_paths.h"
#include "packer/app_folder.h"

namespace {

const std::string FOLDERS[] = {"C:\\Apps\\Viewer", "C:\\x", "C:\\" + std::string(200, 'f'),
                               "C:\\" + std::string(254, 'g')};

// The elements of a path after "." and ".."; false when ".." would climb
// above the drive.
bool Resolve(const std::string& path, std::vector<std::string>* elements) {
  elements->clear();
  for (size_t at = 0, end; at <= path.size(); at = end + 1) {
    end = std::min(path.find_first_of("\\/", at), path.size());
    std::string e = path.substr(at, end - at);
    for (char& c : e) c = char(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (e == "..") {
      if (elements->size() <= 1) return false;
      elements->pop_back();
    } else if (!e.empty() && e != ".") {
      elements->push_back(e);
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 1024) return 0;
  const std::string& folder = FOLDERS[data[0] % (sizeof FOLDERS / sizeof *FOLDERS)];
  std::string name(reinterpret_cast<const char*>(data + 1), size - 1);
  name = name.substr(0, name.find('\0'));

  char* target = static_cast<char*>(malloc(popbox::NAME_BUFFER_SIZE));
  bool composed = popbox::ComposePath(target, folder.c_str(), name.c_str());
  FUZZ_CHECK(composed == (folder.size() + 1 + name.size() <= popbox::MAX_NAME_LENGTH));
  FUZZ_CHECK(std::string(target) == (composed ? folder + "\\" + name : ""));
  free(target);

  if (popbox::IsSafeRecordName(name.c_str())) {
    std::vector<std::string> base, resolved;
    FUZZ_CHECK(Resolve(folder, &base) && Resolve(folder + "\\" + name, &resolved));
    FUZZ_CHECK(resolved.size() > base.size());
    FUZZ_CHECK(std::equal(base.begin(), base.end(), resolved.begin()));
  }

  bool packable = !name.empty();
  for (size_t at = 0, end; at <= name.size() && packable; at = end + 1) {
    end = std::min(name.find('\\', at), name.size());
    std::string element = name.substr(at, end - at);
    packable = !element.empty() && popbox::CheckNameElement(element).empty();
  }
  if (packable) FUZZ_CHECK(popbox::IsSafeRecordName(name.c_str()));
  return 0;
}
