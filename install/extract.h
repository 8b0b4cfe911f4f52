// Writing the payload into the install folder.
#pragma once

#include "payload/payload_stream.h"

namespace popbox {

// Walks the payload once: every folder record becomes a folder and every
// file record a file below installDir; the record "Setup.ini" is replaced
// by theScript cut before [PRIVATE], carrying the store's name and web
// address. Stops at the first failure with the reason in the error slot;
// what was written before stays. `payload` is the setup's own by default.
bool ExtractPayload(const char* installDir, const char* storeName, const char* webAddress,
                    PayloadStream& payload = thePayload);

}  // namespace popbox
