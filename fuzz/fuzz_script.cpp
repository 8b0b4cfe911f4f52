// The script document on arbitrary text, driven by a program of operations
// (FuzzedDataProvider: four registry folder values, up to 24 operations,
// then the text). No second model of the format: after each operation the
// document's invariants hold, and each result agrees with what the
// document itself says (a found key lies in the text, an edit changes
// exactly the value's bytes, a cut keeps a prefix). Output buffers are heap
// blocks of exactly the size passed, so ASan sees any overrun.
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

// clang-format off
const char* const WORDS[] = {"Vendor", "Install", "install", "Installed Message", "PRIVATE", "Name",
    "URL", "Title", "DefaultAppDir", "", "[", "=", "  spaced  ", "a\r\nb", "[Install]\r\nTitle=x",
    "<Desktop>\\x.lnk", "<Program Files>\\A", "<<x>"};
constexpr int WORD_COUNT = sizeof WORDS / sizeof *WORDS;
enum { SELECT, GET_STRING, SECTION_TEXT, FIND_KEY, SET_VALUE, TRUNCATE, GET_PATH, COPY, RESERVE,
       KINDS };
// clang-format on

struct Op {
  int kind, size, extra, name[3], value[3];  // a word, or (past the table) a piece of the text
};

std::string Word(const int* pick, const std::string& text) {
  std::string s = pick[0] < WORD_COUNT ? WORDS[pick[0]]
                  : text.empty()       ? ""
                                 : text.substr(size_t(pick[1]) % text.size(), size_t(pick[2]));
  return s.substr(0, s.find('\0'));
}

std::string Text(const popbox::ScriptDocument& doc) {
  return doc.Length() ? std::string(doc.Text(), size_t(doc.Length())) : "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  popbox::ClearRegistryTable();
  for (const char* macro : {"Program Files", "Desktop", "Programs Menu", "My Documents"}) {
    int length = in.ConsumeIntegralInRange<int>(0, 261);  // 261: no value
    std::string folder = std::string(size_t(length % 261), 'x').replace(0, length ? 3 : 0, "C:\\");
    const popbox::FolderMacro* row = popbox::FindFolderMacro(macro);
    popbox::SetRegistryTableString(row->root, row->keyPath, row->valueName,
                                   length == 261 ? nullptr : folder.c_str());
  }
  std::vector<Op> program(in.ConsumeIntegralInRange<size_t>(0, 24));
  for (Op& op : program) {
    op.kind = in.ConsumeIntegralInRange<int>(0, KINDS - 1);
    for (int* pick : {op.name, op.value}) {
      pick[0] = in.ConsumeIntegralInRange<int>(0, WORD_COUNT);
      pick[1] = in.ConsumeIntegral<uint16_t>();
      pick[2] = in.ConsumeIntegralInRange<int>(0, 40);
    }
    op.size = in.ConsumeIntegralInRange<int>(1, 3000);
    op.extra = in.ConsumeIntegralInRange<int>(-5, 600);
  }
  std::string text = in.ConsumeRemainingBytesAsString();
  popbox::ScriptDocument doc;
  doc.LoadFromText(text.data(), static_cast<int32_t>(text.size()));

  for (const Op& op : program) {
    const std::string before = Text(doc), name = Word(op.name, before),
                      value = Word(op.value, before);
    std::vector<char> buffer(size_t(op.size));
    char* at = nullptr;
    int32_t length = -1;
    bool found = doc.FindKey(name.c_str(), &at, &length);
    switch (op.kind) {
      case SELECT:
        FUZZ_CHECK(doc.SelectSection(name.c_str()) == (*doc.FindSection(name.c_str()) != 0));
        break;
      case GET_STRING:
        FUZZ_CHECK(doc.GetString(name.c_str(), buffer.data(), op.size) == found);
        FUZZ_CHECK(strlen(buffer.data()) <= (found ? size_t(std::min(length, op.size - 1)) : 0));
        doc.GetBool(name.c_str());
        break;
      case SECTION_TEXT:
        doc.GetSectionText(name.c_str(), buffer.data(), op.size);
        FUZZ_CHECK(memchr(buffer.data(), 0, buffer.size()) != nullptr && doc.Cursor() != nullptr);
        break;
      case FIND_KEY:
        if (found) {
          FUZZ_CHECK(at > doc.Cursor() && at + length <= doc.Text() + doc.Length());
          FUZZ_CHECK(at[-1] == '=' && memchr(at, '\n', size_t(length)) == nullptr);
        }
        break;
      case SET_VALUE: {
        size_t offset = found ? size_t(at - doc.Text()) : 0;
        FUZZ_CHECK(doc.SetValue(name.c_str(), value.c_str()) == found);
        FUZZ_CHECK(Text(doc) == (found ? before.substr(0, offset) + value +
                                             before.substr(offset + size_t(length))
                                       : before));
        break;
      }
      case TRUNCATE:
        doc.TruncateAtSection(name.c_str());
        FUZZ_CHECK(before.compare(0, size_t(doc.Length()), Text(doc)) == 0);
        FUZZ_CHECK(before.empty() || doc.Cursor() == nullptr);
        break;
      case GET_PATH: {
        std::vector<char> path(popbox::NAME_BUFFER_SIZE);
        popbox::ClearError();
        FUZZ_CHECK(doc.GetPath(name.c_str(), path.data()) != popbox::HasError());
        FUZZ_CHECK(strlen(path.data()) <= popbox::MAX_NAME_LENGTH);
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
    }
    // The text is as it was unless an edit changed it; a selected section
    // always has the zero byte behind the text that every scan stops at.
    FUZZ_CHECK(doc.Length() <= doc.Capacity());
    if (op.kind != SET_VALUE && op.kind != TRUNCATE) FUZZ_CHECK(Text(doc) == before);
    if (doc.Cursor()) {
      FUZZ_CHECK(doc.Cursor() >= doc.Text() && doc.Cursor() <= doc.Text() + doc.Length());
      FUZZ_CHECK(doc.Text()[doc.Length()] == 0);
    }
  }
  return 0;
}
