// Reading folder locations from the registry, behind a compile-time
// interface: registry_win32.cpp asks Windows; registry_table.cpp serves
// host tools and tests from a table they fill.
#pragma once

#include <stdint.h>

namespace popbox {

enum class RegistryRoot : uint8_t { LocalMachine, CurrentUser };

// True when the value exists, is of type REG_SZ and fits in `size` bytes
// with its terminating zero; the buffer then holds the text. After false
// the buffer's contents mean nothing.
bool ReadRegistryString(RegistryRoot root, const char* keyPath, const char* valueName, char* buffer,
                        uint32_t size);

// The host's table (registry_table.cpp only): SetRegistryTableString stores
// a REG_SZ value, a null text removes it; ClearRegistryTable empties it.
void SetRegistryTableString(RegistryRoot root, const char* keyPath, const char* valueName,
                            const char* text);
void ClearRegistryTable();

}  // namespace popbox
