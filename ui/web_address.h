// The store's web address as the dialog hands it on.
#pragma once

#include <stdint.h>

namespace popbox {

// Room for 69 typed characters plus the "http://" put in front.
constexpr uint32_t WEB_ADDRESS_SIZE = 77;

// Trims the text; a non-empty text that begins neither with "http://" nor
// with "https://" (exactly, case counts) gets "http://" in front. The
// buffer holds WEB_ADDRESS_SIZE bytes and the text at most 69 characters.
void NormalizeWebAddress(char* text);

}  // namespace popbox
