#include <windows.h>

#include "platform/registry.h"

namespace popbox {

bool ReadRegistryString(RegistryRoot root, const char* keyPath, const char* valueName, char* buffer,
                        uint32_t size) {
  HKEY rootKey = root == RegistryRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  HKEY key;
  if (RegOpenKeyExA(rootKey, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0;
  DWORD bytes = size;
  LONG result =
      RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || type != REG_SZ) return false;
  // A value stored without its terminating zero still has to end inside
  // the buffer: accept it when there is room for the zero, refuse it when
  // it fills the buffer to the last byte.
  if (bytes == 0 || buffer[bytes - 1] != 0) {
    if (bytes >= size) return false;
    buffer[bytes] = 0;
  }
  return true;
}

}  // namespace popbox
