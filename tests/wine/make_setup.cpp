// make-setup: writes a setup file from a stub and records described on the
// command line, including records that the packer never writes (a missing
// script, wrong magic, sizes that disagree, cut-off files). For tests.
//
//   make-setup --out FILE [--stub STUB.exe] [--no-end] [--cut N] RECORD...
//
//   RECORD := [MODIFIER...] KIND
//   KIND   := file NAME CONTENT     a file record (type 2)
//           | folder NAME           a folder record (type 1), no contents
//           | end                   an end record (type 0)
//           | raw HEX               the bytes HEX as they are, no header
//   NAME   : the record name as it is (no escapes: bin\a.txt)
//   CONTENT:= @PATH                 the contents of a file
//           | TEXT                  the text itself, with the escapes \n \r
//                                   \t \\ \xHH; a backslash before any other
//                                   character stays
//   MODIFIER (applies to the next record only):
//     packed                 store the contents compressed (literals only),
//                            made one token longer when that alone would be
//                            as long as the contents
//     type=N magic=N name-length=N unpacked=N packed-size=N
//                            write this header field instead of the right one
//
// Without --stub the image is PAYLOAD_OFFSET zero bytes. An end record is
// appended behind the given records unless --no-end is given. --cut N
// removes the last N bytes of the whole file.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "payload/payload_format.h"

namespace {

using popbox::BlobHeader;
using Bytes = std::vector<uint8_t>;

[[noreturn]] void Die(const std::string& message) {
  fprintf(stderr, "make-setup: %s\n", message.c_str());
  exit(2);
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Die("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

Bytes Unescape(const std::string& text) {
  Bytes out;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c != '\\' || i + 1 == text.size()) {
      out.push_back(static_cast<uint8_t>(c));
      continue;
    }
    char e = text[++i];
    if (e == 'n') {
      out.push_back('\n');
    } else if (e == 'r') {
      out.push_back('\r');
    } else if (e == 't') {
      out.push_back('\t');
    } else if (e == 'x' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
               HexDigit(text[i + 2]) >= 0) {
      out.push_back(static_cast<uint8_t>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2])));
      i += 2;
    } else if (e == '\\') {
      out.push_back('\\');
    } else {
      // Not an escape: a path like bin\a.txt stays as it is.
      out.push_back('\\');
      out.push_back(static_cast<uint8_t>(e));
    }
  }
  return out;
}

Bytes ParseHex(const std::string& text) {
  Bytes out;
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == ':') continue;
    int digit = HexDigit(c);
    if (digit < 0) Die("not hex: " + text);
    if (high < 0) {
      high = digit;
    } else {
      out.push_back(static_cast<uint8_t>(high * 16 + digit));
      high = -1;
    }
  }
  if (high >= 0) Die("odd number of hex digits: " + text);
  return out;
}

uint32_t ParseNumber(const std::string& text) {
  char* end = nullptr;
  unsigned long long value = strtoull(text.c_str(), &end, 0);
  if (text.empty() || *end != '\0' || value > 0xFFFFFFFFull) Die("not a number: " + text);
  return static_cast<uint32_t>(value);
}

// Literal-only encoding: every byte stands for itself, 0xDF is escaped.
// When that is exactly as long as the contents (no 0xDF in them), the first
// byte is written as a run of one instead, so that the two sizes differ and
// the reader must unpack.
Bytes PackLiterals(const Bytes& data) {
  if (data.empty()) Die("packed: empty contents cannot be stored compressed");
  Bytes out;
  for (uint8_t b : data) {
    out.push_back(b);
    if (b == popbox::ESCAPE_BYTE) out.push_back(0);
  }
  if (out.size() == data.size()) {
    out.erase(out.begin());
    out.insert(out.begin(), {popbox::ESCAPE_BYTE, 1, data[0]});
  }
  return out;
}

struct Modifiers {
  bool packed = false;
  std::optional<uint32_t> type, magic, nameLength, unpacked, packedSize;
};

void AppendRecord(Bytes* file, uint32_t type, const std::string& name, const Bytes& contents,
                  const Modifiers& mods) {
  Bytes stored = mods.packed ? PackLiterals(contents) : contents;
  BlobHeader h;
  h.magic = static_cast<uint16_t>(mods.magic.value_or(popbox::BLOB_MAGIC));
  h.nameLength = static_cast<uint16_t>(mods.nameLength.value_or(name.size()));
  h.unpackedSize = mods.unpacked.value_or(contents.size());
  h.packedSize = mods.packedSize.value_or(stored.size());
  h.type = static_cast<uint8_t>(mods.type.value_or(type));
  uint8_t header[popbox::BLOB_HEADER_SIZE];
  h.Serialize(header);
  file->insert(file->end(), header, header + sizeof header);
  file->insert(file->end(), name.begin(), name.end());
  file->insert(file->end(), stored.begin(), stored.end());
}

int Usage() {
  fputs(
      "usage: make-setup --out FILE [--stub STUB.exe] [--no-end] [--cut N] RECORD...\n"
      "  RECORD: [packed] [type=N] [magic=N] [name-length=N] [unpacked=N] [packed-size=N]\n"
      "          file NAME (@PATH|TEXT) | folder NAME | end | raw HEX\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string outPath, stubPath;
  bool endRecord = true;
  uint32_t cut = 0;
  size_t i = 0;
  for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
    if (args[i] == "--no-end") {
      endRecord = false;
      continue;
    }
    if (i + 1 >= args.size()) return Usage();
    if (args[i] == "--out") {
      outPath = args[++i];
    } else if (args[i] == "--stub") {
      stubPath = args[++i];
    } else if (args[i] == "--cut") {
      cut = ParseNumber(args[++i]);
    } else {
      return Usage();
    }
  }
  if (outPath.empty()) return Usage();

  Bytes file;
  if (stubPath.empty()) {
    file.assign(popbox::PAYLOAD_OFFSET, 0);
  } else {
    file = ReadFile(stubPath);
    if (file.size() != popbox::PAYLOAD_OFFSET) {
      Die(stubPath + " is " + std::to_string(file.size()) + " bytes, not " +
          std::to_string(popbox::PAYLOAD_OFFSET));
    }
  }

  Modifiers mods;
  auto need = [&](size_t count) {
    if (i + count >= args.size()) Die(args[i] + " needs " + std::to_string(count) + " argument(s)");
  };
  for (; i < args.size(); ++i) {
    const std::string& word = args[i];
    size_t eq = word.find('=');
    std::string key = word.substr(0, eq);
    if (word == "packed") {
      mods.packed = true;
      continue;
    }
    if (eq != std::string::npos) {
      uint32_t value = ParseNumber(word.substr(eq + 1));
      if (key == "type") {
        mods.type = value;
      } else if (key == "magic") {
        mods.magic = value;
      } else if (key == "name-length") {
        mods.nameLength = value;
      } else if (key == "unpacked") {
        mods.unpacked = value;
      } else if (key == "packed-size") {
        mods.packedSize = value;
      } else {
        Die("unknown modifier " + word);
      }
      continue;
    }
    if (word == "file") {
      need(2);
      const std::string& content = args[i + 2];
      Bytes contents = content.rfind('@', 0) == 0 ? ReadFile(content.substr(1)) : Unescape(content);
      AppendRecord(&file, popbox::BLOB_FILE, args[i + 1], contents, mods);
      i += 2;
    } else if (word == "folder") {
      need(1);
      AppendRecord(&file, popbox::BLOB_FOLDER, args[i + 1], {}, mods);
      i += 1;
    } else if (word == "end") {
      AppendRecord(&file, popbox::BLOB_END, "", {}, mods);
    } else if (word == "raw") {
      need(1);
      Bytes raw = ParseHex(args[i + 1]);
      file.insert(file.end(), raw.begin(), raw.end());
      i += 1;
    } else {
      Die("unknown record kind " + word);
    }
    mods = Modifiers();
  }
  if (mods.packed || mods.type || mods.magic || mods.nameLength || mods.unpacked ||
      mods.packedSize) {
    Die("modifiers at the end apply to no record");
  }
  if (endRecord) AppendRecord(&file, popbox::BLOB_END, "", {}, Modifiers());
  if (cut > file.size()) Die("--cut is larger than the file");
  file.resize(file.size() - cut);

  std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  out.close();
  if (!out) Die("cannot write " + outPath);
  return 0;
}
