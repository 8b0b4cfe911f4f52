// The sizes of the setup's text buffers. Paths and record names live in
// buffers of MAX_PATH bytes, so they hold at most 259 characters.
#pragma once

#include <stdint.h>

namespace popbox {

constexpr uint32_t NAME_BUFFER_SIZE = 260;  // MAX_PATH
constexpr uint32_t MAX_NAME_LENGTH = NAME_BUFFER_SIZE - 1;

}  // namespace popbox
