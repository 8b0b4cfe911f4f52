#include "payload/payload_stream.h"

#include <stdlib.h>

#include "payload/unpack.h"

namespace popbox {

PayloadStream thePayload;

bool PayloadStream::OpenPayload() {
  ClosePayload();
  failure_ = ReadFailure::NotOpen;
  if (!borrowed_) {
    char path[NAME_BUFFER_SIZE];
    if (GetOwnPath(path, sizeof path) == 0) return false;
    handle_ = OpenForReading(path);
    if (handle_ == INVALID_FILE) return false;
  }
  open_ = true;
  if (!SeekFromStart(handle_, PAYLOAD_OFFSET)) {
    ClosePayload();
    return false;
  }
  failure_ = ReadFailure::None;
  return true;
}

void PayloadStream::ClosePayload() {
  if (!open_) return;
  if (!borrowed_) CloseFile(handle_);
  open_ = false;
}

void ReleaseBlob(uint8_t* data) { free(data); }

// One read call that must deliver exactly `size` bytes.
bool PayloadStream::ReadExactly(void* buffer, uint32_t size) {
  uint32_t got = 0;
  return ReadFromFile(handle_, buffer, size, &got) && got == size;
}

bool PayloadStream::ReadHeaderAndName(char* name, uint32_t* type) {
  if (!open_) return Fail(ReadFailure::NotOpen);
  uint8_t raw[BLOB_HEADER_SIZE];
  if (!ReadExactly(raw, sizeof raw)) return Fail(ReadFailure::HeaderCutShort);
  BlobHeader header = BlobHeader::Parse(raw);
  if (header.magic != BLOB_MAGIC) return Fail(ReadFailure::NoMagic);
  header_ = header;

  // The caller's name buffer holds NAME_BUFFER_SIZE bytes: a longer name
  // is refused before a byte of it is read.
  if (header.nameLength > MAX_NAME_LENGTH) return Fail(ReadFailure::NameTooLong);
  if (header.nameLength != 0 && !ReadExactly(name, header.nameLength)) {
    return Fail(ReadFailure::NameCutShort);
  }
  name[header.nameLength] = 0;
  *type = header.type;
  return true;
}

bool PayloadStream::SkipNextBlob(char* name, uint32_t* type) {
  if (!ReadHeaderAndName(name, type)) return false;
  if (!SkipForward(handle_, header_.packedSize)) return Fail(ReadFailure::ContentsCutShort);
  failure_ = ReadFailure::None;
  return true;
}

bool PayloadStream::ReadNextBlob(char* name, uint8_t** data, uint32_t* unpackedSize,
                                 uint32_t* type) {
  if (!ReadHeaderAndName(name, type)) return false;
  const BlobHeader& header = header_;

  // Both buffers carry one extra byte for the terminating zero.
  if (header.packedSize == 0xFFFFFFFFu || header.unpackedSize == 0xFFFFFFFFu) {
    return Fail(ReadFailure::SizeTooLarge);
  }
  // Packing turns 3 bytes into at most MAX_RUN: a larger unpacked size is
  // damage, known before anything is allocated.
  if (uint64_t{header.unpackedSize} * 3 > uint64_t{header.packedSize} * MAX_RUN) {
    return Fail(ReadFailure::BadPacking);
  }
  // Buffers that cannot be had are a want of memory when the stored bytes
  // lie in the file (the last of them can be read), damage otherwise.
  uint8_t* packed = static_cast<uint8_t*>(malloc(static_cast<size_t>(header.packedSize) + 1));
  if (!packed) {
    uint8_t last;
    if (header.packedSize &&
        !(SkipForward(handle_, header.packedSize - 1) && ReadExactly(&last, 1))) {
      return Fail(ReadFailure::ContentsCutShort);
    }
    return Fail(ReadFailure::OutOfMemory);
  }
  if (!ReadExactly(packed, header.packedSize)) {
    free(packed);
    return Fail(ReadFailure::ContentsCutShort);
  }
  *unpackedSize = header.unpackedSize;

  uint8_t* contents = packed;
  if (header.packedSize != header.unpackedSize) {
    contents = static_cast<uint8_t*>(malloc(static_cast<size_t>(header.unpackedSize) + 1));
    if (!contents) {
      free(packed);
      return Fail(ReadFailure::OutOfMemory);
    }
    uint32_t written = UnpackBlob(packed, header.packedSize, contents, header.unpackedSize);
    free(packed);
    if (written != header.unpackedSize) {
      free(contents);
      return Fail(ReadFailure::BadPacking);
    }
  }
  contents[header.unpackedSize] = 0;
  *data = contents;
  failure_ = ReadFailure::None;
  return true;
}

}  // namespace popbox
