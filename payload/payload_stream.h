// The payload reader: a process-wide, strictly sequential reader of the
// records appended to the program's own file (see payload_format.h).
//
// Each client opens it, walks from the first record, and closes it on every
// path. It reports nothing into the error slot: every operation answers true
// or false and the client chooses the words.
#pragma once

#include <stdint.h>

namespace popbox {

// Opens the program's own file and moves to the first record header. An
// open stream is closed first, so opening again always starts over.
bool OpenPayload();

// Reads the next record. `name` must hold NAME_BUFFER_SIZE bytes and gets
// the record name with a zero behind it. On success `*data` receives a new
// heap buffer of unpackedSize + 1 bytes, the last one zero, which the
// caller releases with ReleaseBlob. After a failure nothing stays
// allocated, `*data` is untouched, and the stream must be reopened.
//
// Records the format cannot describe safely fail here: a name longer than
// MAX_NAME_LENGTH, a size whose plus-one does not fit in 32 bits, and
// compressed contents that do not decode to exactly unpackedSize bytes.
bool ReadNextBlob(char* name, uint8_t** data, uint32_t* unpackedSize, uint32_t* type);

// Releases a buffer handed out by ReadNextBlob; null is allowed.
void ReleaseBlob(uint8_t* data);

// Closes the stream; harmless when it is closed already.
void ClosePayload();

}  // namespace popbox
