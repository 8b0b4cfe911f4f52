#include "packer/encoder/payload_writer.h"

#include <stdexcept>
#include <utility>

#include "packer/encoder/encoder.h"
#include "payload/payload_format.h"

namespace popbox {

RecordContents ChooseContents(const uint8_t* data, size_t size, EncoderScratch* scratch) {
  std::vector<uint8_t> packed = EncodeOptimal(data, size, scratch);
  if (packed.size() >= size) return {false, {}};
  return {true, std::move(packed)};
}

PayloadWriter::PayloadWriter(ByteSink out) : out_(std::move(out)) {}

void PayloadWriter::WriteHeader(uint32_t type, const std::string& name, uint32_t unpackedSize,
                                uint32_t packedSize) {
  if (name.size() > MAX_NAME_LENGTH) throw std::logic_error("record name too long: " + name);
  BlobHeader header;
  header.magic = BLOB_MAGIC;
  header.nameLength = static_cast<uint16_t>(name.size());
  header.unpackedSize = unpackedSize;
  header.packedSize = packedSize;
  header.type = static_cast<uint8_t>(type);
  uint8_t raw[BLOB_HEADER_SIZE];
  header.Serialize(raw);
  out_(raw, sizeof raw);
  out_(name.data(), name.size());
}

void PayloadWriter::AddFolder(const std::string& name) {
  WriteHeader(BLOB_FOLDER, name, 0, 0);
  ++totals_.folders;
}

uint64_t PayloadWriter::AddFile(const std::string& name, const uint8_t* data, size_t size,
                                const RecordContents& contents) {
  if (size >= 0xFFFFFFFFu) throw std::logic_error("file too large for a record: " + name);
  const uint8_t* stored = contents.compressed ? contents.packed.data() : data;
  const size_t storedSize = contents.compressed ? contents.packed.size() : size;
  WriteHeader(BLOB_FILE, name, static_cast<uint32_t>(size), static_cast<uint32_t>(storedSize));
  out_(stored, storedSize);
  ++totals_.files;
  totals_.unpackedBytes += size;
  totals_.storedBytes += storedSize;
  return contents.compressed ? uint64_t{size} + storedSize : size;
}

uint64_t PayloadWriter::AddFileCompressing(const std::string& name, const uint8_t* data,
                                           size_t size, unsigned jobs, EncoderScratch* scratch,
                                           const std::function<void(uint64_t)>& progress) {
  if (size >= 0xFFFFFFFFu) throw std::logic_error("file too large for a record: " + name);
  OptimalOptions options;
  options.jobs = jobs;
  options.progress = progress;
  options.scratch = scratch;
  OptimalEncoder encoder(data, size, options);
  if (encoder.PackedSize() >= size) return AddFile(name, data, size, {false, {}});
  const uint32_t packed = static_cast<uint32_t>(encoder.PackedSize());
  WriteHeader(BLOB_FILE, name, static_cast<uint32_t>(size), packed);
  encoder.Write([this](const uint8_t* bytes, size_t count) { out_(bytes, count); });
  ++totals_.files;
  totals_.unpackedBytes += size;
  totals_.storedBytes += packed;
  return uint64_t{size} + packed;
}

void PayloadWriter::Finish() { WriteHeader(BLOB_END, "", 0, 0); }

}  // namespace popbox
