#include <string.h>

#include <map>
#include <string>
#include <tuple>

#include "script/registry.h"

namespace popbox {

namespace {

using Key = std::tuple<RegistryRoot, std::string, std::string>;

std::map<Key, std::string>& FakeRegistry() {
  static std::map<Key, std::string> values;
  return values;
}

}  // namespace

void SetFakeRegistryString(RegistryRoot root, const char* keyPath, const char* valueName,
                           const char* text) {
  Key key{root, keyPath, valueName};
  if (text) {
    FakeRegistry()[key] = text;
  } else {
    FakeRegistry().erase(key);
  }
}

void ClearFakeRegistry() { FakeRegistry().clear(); }

bool ReadRegistryString(RegistryRoot root, const char* keyPath, const char* valueName, char* buffer,
                        uint32_t size) {
  auto found = FakeRegistry().find(Key{root, keyPath, valueName});
  if (found == FakeRegistry().end() || found->second.size() + 1 > size) return false;
  memcpy(buffer, found->second.c_str(), found->second.size() + 1);
  return true;
}

}  // namespace popbox
