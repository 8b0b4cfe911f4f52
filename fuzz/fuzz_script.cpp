// The script document on arbitrary text, driven by a program of operations
// (FuzzedDataProvider: four registry folder values, up to 24 operations,
// then the text). No second model of the format: after each operation the
// document's own invariants must hold, and each result must agree with
// what the document itself says (a found key lies in the text, an edit
// changes exactly the value's bytes, a cut keeps a prefix). Output buffers
// are heap blocks of exactly the size passed, so ASan sees any overrun.
#include <fuzzer/FuzzedDataProvider.h>
#include <string.h>

#include <string>
#include <vector>

#include "base/error_slot.h"
#include "fuzz/fuzz_support.h"
#include "platform/registry.h"
#include "script/folder_macros.h"
#include "script/script_document.h"

namespace {

const char* const NAMES[] = {"Vendor", "Install", "install", "Installed Message", "PRIVATE",
                             "Name",   "URL",     "Title",   "LinkTarget",        "DefaultAppDir",
                             "",       "[",       "="};
const char* const VALUES[] = {"",
                              "Store",
                              "  spaced  ",
                              "a\r\nb",
                              "[Install]\r\nTitle=x",
                              "<Desktop>\\x.lnk",
                              "<Program Files>\\App",
                              "<nope>",
                              "<<Desktop>"};
const char* const MACROS[] = {"Program Files", "Desktop", "Programs Menu", "My Documents"};
enum {
  SELECT,
  GET_STRING,
  GET_BOOL,
  SECTION_TEXT,
  FIND_KEY,
  SET_VALUE,
  TRUNCATE,
  GET_PATH,
  COPY,
  RESERVE,
  TERMINATE,
  KINDS
};

// A name from the table, or (the index past it) a piece of the text as it
// is when the operation runs.
struct Pick {
  const char* const* table;
  int size, index, from, length;
  Pick(FuzzedDataProvider& in, const char* const* t, int n)
      : table(t),
        size(n),
        index(in.ConsumeIntegralInRange<int>(0, n)),
        from(in.ConsumeIntegral<uint16_t>()),
        length(in.ConsumeIntegralInRange<int>(0, 40)) {}
  std::string Of(const std::string& text) const {
    std::string s = index < size   ? table[index]
                    : text.empty() ? ""
                                   : text.substr(from % text.size(), length);
    return s.substr(0, s.find('\0'));
  }
};

std::string Text(const popbox::ScriptDocument& doc) {
  return doc.Length() ? std::string(doc.Text(), doc.Length()) : "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  popbox::ClearRegistryTable();
  for (const char* macro : MACROS) {
    int length = in.ConsumeIntegralInRange<int>(0, 261);
    const char* pattern[] = {"C:\\Program Files\\Folder ", "<Desktop>\\y\\", "x"};
    std::string folder;
    while (folder.size() < size_t(length)) folder += pattern[in.ConsumeIntegralInRange<int>(0, 2)];
    folder.resize(length == 261 ? 0 : length);
    const popbox::FolderMacro* row = popbox::FindFolderMacro(macro);
    popbox::SetRegistryTableString(row->root, row->keyPath, row->valueName,
                                   length == 261 ? nullptr : folder.c_str());
  }
  struct Op {
    int kind;
    Pick name, value;
    int size, extra;
  };
  std::vector<Op> program;
  for (int n = in.ConsumeIntegralInRange<int>(0, 24); n > 0; --n) {
    int kind = in.ConsumeIntegralInRange<int>(0, KINDS - 1);
    Pick name(in, NAMES, sizeof NAMES / sizeof *NAMES);
    Pick value(in, VALUES, sizeof VALUES / sizeof *VALUES);
    int opSize = in.ConsumeIntegralInRange<int>(1, 3000);
    program.push_back({kind, name, value, opSize, in.ConsumeIntegralInRange<int>(-5, 600)});
  }
  std::string text = in.ConsumeRemainingBytesAsString();
  popbox::ScriptDocument doc;
  doc.LoadFromText(text.data(), static_cast<int32_t>(text.size()));

  for (const Op& program_op : program) {
    std::string before = Text(doc);
    struct {
      int kind, size, extra;
      std::string name, value;
    } op{program_op.kind, program_op.size, program_op.extra, program_op.name.Of(before),
         program_op.value.Of(before)};
    std::vector<char> buffer(op.size);
    char* value = nullptr;
    int32_t length = -1;
    switch (op.kind) {
      case SELECT: {
        bool found = doc.SelectSection(op.name.c_str());
        FUZZ_CHECK(found == (*doc.FindSection(op.name.c_str()) != 0));
        break;
      }
      case GET_STRING:
      case GET_BOOL:
        if (op.kind == GET_BOOL) {
          doc.GetBool(op.name.c_str());
        } else if (doc.GetString(op.name.c_str(), buffer.data(), op.size)) {
          FUZZ_CHECK(doc.FindKey(op.name.c_str(), &value, &length));
          FUZZ_CHECK(strlen(buffer.data()) <= size_t(std::min(length, op.size - 1)));
        } else {
          FUZZ_CHECK(buffer[0] == 0);
        }
        break;
      case SECTION_TEXT:
        doc.GetSectionText(op.name.c_str(), buffer.data(), op.size);
        FUZZ_CHECK(memchr(buffer.data(), 0, buffer.size()) != nullptr);
        FUZZ_CHECK(doc.Cursor() != nullptr);
        break;
      case FIND_KEY:
        if (doc.FindKey(op.name.c_str(), &value, &length)) {
          FUZZ_CHECK(value >= doc.Cursor() && value + length <= doc.Text() + doc.Length());
          FUZZ_CHECK(value[-1] == '=' && memchr(value, '\n', length) == nullptr);
        }
        break;
      case SET_VALUE:
        if (doc.FindKey(op.name.c_str(), &value, &length)) {
          size_t at = value - doc.Text();
          FUZZ_CHECK(doc.SetValue(op.name.c_str(), op.value.c_str()));
          FUZZ_CHECK(Text(doc) == before.substr(0, at) + op.value + before.substr(at + length));
        } else {
          FUZZ_CHECK(!doc.SetValue(op.name.c_str(), op.value.c_str()) && Text(doc) == before);
        }
        break;
      case TRUNCATE:
        doc.TruncateAtSection(op.name.c_str());
        FUZZ_CHECK(before.compare(0, doc.Length(), Text(doc)) == 0);
        FUZZ_CHECK(before.empty() || doc.Cursor() == nullptr);
        break;
      case GET_PATH: {
        std::vector<char> path(popbox::NAME_BUFFER_SIZE);
        popbox::ClearError();
        bool ok = doc.GetPath(op.name.c_str(), path.data());
        FUZZ_CHECK(ok != popbox::HasError() && strlen(path.data()) <= popbox::MAX_NAME_LENGTH);
        break;
      }
      case COPY: {
        popbox::ScriptDocument copy(doc);
        FUZZ_CHECK(Text(copy) == before && copy.Cursor() == nullptr);
        doc.CopyFrom(copy);
        break;
      }
      case RESERVE:
        doc.Reserve(op.extra);
        FUZZ_CHECK(doc.Capacity() >= doc.Length() + std::max(op.extra, 0));
        break;
      case TERMINATE:
        FUZZ_CHECK(doc.TerminatedText()[doc.Length()] == 0);
        break;
    }
    // The document's invariants: the cursor inside the block, the text as
    // it was unless an edit changed it, and a zero byte behind it whenever
    // a section is selected (every scan from the cursor stops there).
    FUZZ_CHECK(doc.Length() <= doc.Capacity());
    if (op.kind != SET_VALUE && op.kind != TRUNCATE) FUZZ_CHECK(Text(doc) == before);
    if (doc.Cursor()) {
      FUZZ_CHECK(doc.Cursor() >= doc.Text() && doc.Cursor() <= doc.Text() + doc.Length());
      FUZZ_CHECK(doc.Text()[doc.Length()] == 0);
    }
  }
  return 0;
}
