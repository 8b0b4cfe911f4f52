#include "payload/payload_stream.h"

#include <stdlib.h>

#include "app/os_api.h"
#include "payload/payload_format.h"
#include "payload/unpack.h"

namespace popbox {

namespace {

// The reader's whole state: when open, the handle is on the program's own
// file, positioned at the next record header. Zero-initialised, so the
// stream is closed from the very start, whatever the order of static
// initialisation.
struct PayloadStream {
  FileHandle handle;
  bool open;
};

PayloadStream theStream;

// One read call that must deliver exactly `size` bytes.
bool ReadExactly(void* buffer, uint32_t size) {
  uint32_t got = 0;
  return ReadFromFile(theStream.handle, buffer, size, &got) && got == size;
}

}  // namespace

bool OpenPayload() {
  ClosePayload();
  char path[NAME_BUFFER_SIZE];
  if (GetOwnPath(path, sizeof path) == 0) return false;
  theStream.handle = OpenForReading(path);
  if (theStream.handle == INVALID_FILE) return false;
  theStream.open = true;
  if (!SeekFromStart(theStream.handle, PAYLOAD_OFFSET)) {
    ClosePayload();
    return false;
  }
  return true;
}

void ClosePayload() {
  if (!theStream.open) return;
  CloseFile(theStream.handle);
  theStream.open = false;
}

void ReleaseBlob(uint8_t* data) { free(data); }

bool ReadNextBlob(char* name, uint8_t** data, uint32_t* unpackedSize, uint32_t* type) {
  if (!theStream.open) return false;

  uint8_t raw[BLOB_HEADER_SIZE];
  if (!ReadExactly(raw, sizeof raw)) return false;
  BlobHeader header = BlobHeader::Parse(raw);
  if (header.magic != BLOB_MAGIC) return false;

  // The caller's name buffer holds NAME_BUFFER_SIZE bytes: a longer name
  // is refused before a byte of it is read.
  if (header.nameLength > MAX_NAME_LENGTH) return false;
  if (header.nameLength != 0 && !ReadExactly(name, header.nameLength)) return false;
  name[header.nameLength] = 0;
  *type = header.type;

  // Both buffers carry one extra byte for the terminating zero.
  if (header.packedSize == 0xFFFFFFFFu || header.unpackedSize == 0xFFFFFFFFu) return false;
  uint8_t* packed = static_cast<uint8_t*>(malloc(static_cast<size_t>(header.packedSize) + 1));
  if (!packed) return false;
  if (!ReadExactly(packed, header.packedSize)) {
    free(packed);
    return false;
  }
  *unpackedSize = header.unpackedSize;

  uint8_t* contents = packed;
  if (header.packedSize != header.unpackedSize) {
    contents = static_cast<uint8_t*>(malloc(static_cast<size_t>(header.unpackedSize) + 1));
    uint32_t written = contents
                           ? UnpackBlob(packed, header.packedSize, contents, header.unpackedSize)
                           : UNPACK_FAILED;
    free(packed);
    if (written != header.unpackedSize) {
      free(contents);
      return false;
    }
  }
  contents[header.unpackedSize] = 0;
  *data = contents;
  return true;
}

}  // namespace popbox
