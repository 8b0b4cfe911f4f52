// The store's web address as the dialog hands it on.
#pragma once

#include <stdint.h>

#include "script/setup_ini.h"

namespace popbox {

// Room for the typed characters, the "http://" put in front and the zero.
constexpr uint32_t WEB_ADDRESS_SIZE = WEB_ADDRESS_LENGTH + 7 + 1;

// Trims the text; a non-empty text that begins neither with "http://" nor
// with "https://" (exactly, case counts) gets "http://" in front. The
// buffer holds WEB_ADDRESS_SIZE bytes and the text at most WEB_ADDRESS_LENGTH
// characters.
void NormalizeWebAddress(char* text);

}  // namespace popbox
