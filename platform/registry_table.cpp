// The host's registry: a table that host tools and tests fill with the
// values the setup would read on a Windows machine.
#include <string.h>

#include <map>
#include <string>
#include <tuple>

#include "platform/registry.h"

namespace popbox {

namespace {

using Key = std::tuple<RegistryRoot, std::string, std::string>;

std::map<Key, std::string>& Table() {
  static std::map<Key, std::string> values;
  return values;
}

}  // namespace

void SetRegistryTableString(RegistryRoot root, const char* keyPath, const char* valueName,
                            const char* text) {
  Key key{root, keyPath, valueName};
  if (text) {
    Table()[key] = text;
  } else {
    Table().erase(key);
  }
}

void ClearRegistryTable() { Table().clear(); }

bool ReadRegistryString(RegistryRoot root, const char* keyPath, const char* valueName, char* buffer,
                        uint32_t size) {
  auto found = Table().find(Key{root, keyPath, valueName});
  if (found == Table().end() || found->second.size() + 1 > size) return false;
  memcpy(buffer, found->second.c_str(), found->second.size() + 1);
  return true;
}

}  // namespace popbox
