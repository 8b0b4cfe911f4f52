// The payload format shared by the setup stub (reader) and the packer
// (writer). This header, with stub_image.h for the stub in front, is the
// one place where these facts live; see docs/payload-format.md for the
// prose description.
//
// A setup is the stub image, exactly PAYLOAD_OFFSET bytes long, followed by
// records laid end to end with no padding:
//
//   BlobHeader (13 bytes) | name (nameLength bytes, no zero) | contents
//   (packedSize bytes)
//
// The last record has type BLOB_END. Contents are stored as they are when
// packedSize == unpackedSize and compressed (see unpack.h) otherwise.
#pragma once

#include <stdint.h>

#include "base/little_endian.h"
#include "base/path_limits.h"
#include "payload/stub_image.h"

namespace popbox {

constexpr uint16_t BLOB_MAGIC = 0xB10B;  // on disk: 0B B1

// Record types. Other values are carried through unchanged.
constexpr uint32_t BLOB_END = 0;
constexpr uint32_t BLOB_FOLDER = 1;
constexpr uint32_t BLOB_FILE = 2;

// Record names live in buffers of NAME_BUFFER_SIZE bytes (path_limits.h):
// at most MAX_NAME_LENGTH characters.

// Compression: plain bytes stand for themselves; ESCAPE_BYTE starts a token.
//   DF 00          one literal 0xDF
//   DF c f, c<128  c copies of byte f (a run, 1..127)
//   DF c f, c>=128 copy n = (c>>3)-12 bytes (4..19) from distance
//                  ((c&7)<<8)|f (1..2047) bytes back
constexpr uint8_t ESCAPE_BYTE = 0xDF;
constexpr uint32_t MAX_RUN = 127;
constexpr uint32_t MIN_MATCH = 4;
constexpr uint32_t MAX_MATCH = 19;
constexpr uint32_t MAX_DISTANCE = 2047;

// Header layout: 13 bytes, little-endian, packed.
constexpr uint32_t BLOB_HEADER_SIZE = 13;
constexpr uint32_t HEADER_MAGIC_AT = 0;        // 2 bytes
constexpr uint32_t HEADER_NAME_LENGTH_AT = 2;  // 2 bytes
constexpr uint32_t HEADER_UNPACKED_AT = 4;     // 4 bytes
constexpr uint32_t HEADER_PACKED_AT = 8;       // 4 bytes
constexpr uint32_t HEADER_TYPE_AT = 12;        // 1 byte

struct BlobHeader {
  uint16_t magic;
  uint16_t nameLength;
  uint32_t unpackedSize;
  uint32_t packedSize;
  uint8_t type;

  // Decodes the 13 on-disk bytes; works on any host byte order.
  static BlobHeader Parse(const uint8_t* bytes) {
    BlobHeader h;
    h.magic = Load16(bytes + HEADER_MAGIC_AT);
    h.nameLength = Load16(bytes + HEADER_NAME_LENGTH_AT);
    h.unpackedSize = Load32(bytes + HEADER_UNPACKED_AT);
    h.packedSize = Load32(bytes + HEADER_PACKED_AT);
    h.type = bytes[HEADER_TYPE_AT];
    return h;
  }

  void Serialize(uint8_t* bytes) const {
    Store16(bytes + HEADER_MAGIC_AT, magic);
    Store16(bytes + HEADER_NAME_LENGTH_AT, nameLength);
    Store32(bytes + HEADER_UNPACKED_AT, unpackedSize);
    Store32(bytes + HEADER_PACKED_AT, packedSize);
    bytes[HEADER_TYPE_AT] = type;
  }
};

}  // namespace popbox
