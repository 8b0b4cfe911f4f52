// Record names against the install folder.
//
// Input: one byte picks the install folder, the rest (up to a zero byte) is
// a record name. Every name that IsSafeRecordName accepts, composed below
// the folder by ComposePath and normalised the way Windows resolves paths
// ('\' and '/' both separate, runs of separators collapse, "." stays and
// ".." goes up), must name something strictly inside the folder. Composing
// must fit the NAME_BUFFER_SIZE heap buffer or fail with an empty target.
//
// The packer's side: a name made of elements that CheckNameElement accepts,
// joined by backslashes, must be accepted by IsSafeRecordName, so that the
// packer never writes a setup that refuses to install.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "install/install_paths.h"
#include "packer/app_folder.h"
#include "payload/payload_format.h"

namespace {

const std::string FOLDERS[] = {
    "C:\\Apps\\Viewer",
    "C:\\x",
    "C:\\Program Files\\Example Viewer 1.0",
    "C:\\" + std::string(200, 'f'),
    "C:\\" + std::string(254, 'g'),  // 257 characters: only a 1-byte name fits
};
constexpr size_t FOLDER_COUNT = sizeof FOLDERS / sizeof FOLDERS[0];

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return s;
}

// The path's elements after resolving "." and ".."; false when ".." would
// climb above the first element (the drive).
bool Resolve(const std::string& path, std::vector<std::string>* elements) {
  elements->clear();
  size_t at = 0;
  while (at <= path.size()) {
    size_t end = path.find_first_of("\\/", at);
    if (end == std::string::npos) end = path.size();
    std::string e = path.substr(at, end - at);
    at = end + 1;
    if (e.empty() || e == ".") continue;
    if (e == "..") {
      if (elements->size() <= 1) return false;
      elements->pop_back();
      continue;
    }
    elements->push_back(Lower(e));
  }
  return true;
}

std::vector<std::string> Split(const std::string& name) {
  std::vector<std::string> parts;
  size_t at = 0;
  for (;;) {
    size_t end = name.find('\\', at);
    parts.push_back(name.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) return parts;
    at = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 1024) return 0;
  const std::string& folder = FOLDERS[data[0] % FOLDER_COUNT];
  std::string name(reinterpret_cast<const char*>(data + 1), size - 1);
  name = name.substr(0, name.find('\0'));

  char* target = static_cast<char*>(malloc(popbox::NAME_BUFFER_SIZE));
  memset(target, '#', popbox::NAME_BUFFER_SIZE);
  bool composed = popbox::ComposePath(target, folder.c_str(), name.c_str());
  size_t fullLength = folder.size() + 1 + name.size();
  FUZZ_CHECK(composed == (fullLength <= popbox::MAX_NAME_LENGTH));
  if (composed) {
    FUZZ_CHECK(std::string(target) == folder + "\\" + name);
  } else {
    FUZZ_CHECK(target[0] == 0);
  }

  if (popbox::IsSafeRecordName(name.c_str())) {
    std::vector<std::string> base, resolved;
    FUZZ_CHECK(Resolve(folder, &base));
    FUZZ_CHECK(Resolve(folder + "\\" + name, &resolved));
    FUZZ_CHECK(resolved.size() > base.size());
    for (size_t i = 0; i < base.size(); ++i) FUZZ_CHECK(resolved[i] == base[i]);
  }
  free(target);

  // Names as the packer makes them.
  bool packable = !name.empty() && name.size() <= popbox::MAX_NAME_LENGTH;
  for (const std::string& element : Split(name)) {
    if (element.empty() || !popbox::CheckNameElement(element).empty()) packable = false;
  }
  if (packable) FUZZ_CHECK(popbox::IsSafeRecordName(name.c_str()));
  return 0;
}
