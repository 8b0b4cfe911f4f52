// The payload reader: a strictly sequential reader of the records behind
// the stub image (see payload_format.h). The setup keeps one instance,
// thePayload, for its own file; tools give it a file they opened.
//
// Each client opens it, walks from the first record, and closes it on every
// path. It reports nothing into the error slot: every operation answers true
// or false and the client chooses the words. LastFailure() tells tools why
// a read failed; the setup itself looks only at the result.
#pragma once

#include <stdint.h>

#include "payload/payload_format.h"
#include "platform/os_api.h"

namespace popbox {

enum class ReadFailure : uint8_t {
  None,
  NotOpen,           // the stream is closed, or the file could not be opened
  HeaderCutShort,    // fewer than 13 bytes left for a header
  NoMagic,           // the header does not start with 0B B1
  NameTooLong,       // longer than MAX_NAME_LENGTH
  NameCutShort,      // the file ends inside the name
  SizeTooLarge,      // a size whose plus-one does not fit in 32 bits
  OutOfMemory,       // the buffers of plausible sizes could not be had
  ContentsCutShort,  // the file ends inside the stored contents
  BadPacking,        // the contents do not (or cannot) unpack to unpackedSize bytes
};

class PayloadStream {
 public:
  // Reads the program's own file. Constant-initialised, so the stub's
  // instance is closed from the very start, whatever the order of static
  // initialisation.
  constexpr PayloadStream() : handle_(), open_(false), borrowed_(false), failure_(), header_() {}
  // Reads `file`, which the caller opened and closes after the stream.
  explicit PayloadStream(FileHandle file)
      : handle_(file), open_(false), borrowed_(true), failure_(), header_() {}

  // Moves to the first record header, opening the program's own file first
  // (an open stream is closed before, so opening again starts over).
  bool OpenPayload();

  // Reads the next record. `name` must hold NAME_BUFFER_SIZE bytes and gets
  // the record name with a zero behind it. On success `*data` receives a new
  // heap buffer of unpackedSize + 1 bytes, the last one zero, which the
  // caller releases with ReleaseBlob. After a failure nothing stays
  // allocated, `*data` is untouched, and the stream must be reopened.
  bool ReadNextBlob(char* name, uint8_t** data, uint32_t* unpackedSize, uint32_t* type);

  // Reads the next record's header and name like ReadNextBlob, then moves
  // past its contents without reading them. The contents are not checked:
  // a walk of this kind only looks at names and sizes.
  bool SkipNextBlob(char* name, uint32_t* type);

  // Closes the stream; harmless when it is closed already. A file given to
  // the constructor stays open for its owner.
  void ClosePayload();

  ReadFailure LastFailure() const { return failure_; }
  // The header of the last record read, or of the one whose read failed
  // after its header (LastFailure() from NameTooLong on).
  const BlobHeader& LastHeader() const { return header_; }

 private:
  bool Fail(ReadFailure why) {
    failure_ = why;
    return false;
  }
  bool ReadExactly(void* buffer, uint32_t size);
  bool ReadHeaderAndName(char* name, uint32_t* type);

  FileHandle handle_;
  bool open_;
  bool borrowed_;
  ReadFailure failure_;
  BlobHeader header_;
};

// The setup's own file.
extern PayloadStream thePayload;

// Releases a buffer handed out by ReadNextBlob; null is allowed.
void ReleaseBlob(uint8_t* data);

}  // namespace popbox
