// The script document on arbitrary text, driven by an operation program.
//
// Input layout (FuzzedDataProvider: numbers come from the end, the text is
// what is left at the front): the registry table's four folder values, then
// up to 24 operations, then the script text. Every operation runs on the
// document and on a plain model of the text format kept in a std::string;
// after each one the text, the length and the selected section must agree,
// and every result and output buffer must be the model's. Output buffers
// are heap blocks of exactly the size passed, so ASan sees a write past
// them; path buffers hold NAME_BUFFER_SIZE bytes.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "base/error_slot.h"
#include "fuzz/fuzz_support.h"
#include "payload/payload_format.h"
#include "platform/registry.h"
#include "script/folder_macros.h"
#include "script/script_document.h"

namespace {

// Names and values the operations pick from; the last choice is a piece of
// the input text itself.
// clang-format off
const char* const NAMES[] = {
    "Vendor", "Install", "install", "Installed Message", "PRIVATE", "Name", "URL", "Title",
    "title", "Link", "LinkTarget", "DefaultAppDir", "StartProgramsLink", "DesktopLink",
    "DesktopLinkSelected", "StartProgramsLinkSelected", "AppDirCaption", "", "[", "Install]",
    "a b", "=", "\r\n", "K\nX"};
constexpr int NAME_COUNT = sizeof NAMES / sizeof NAMES[0];

const std::string LONG_VALUE(300, 'v');
const char* const VALUES[] = {
    "", "Store", "  spaced  ", "http://example.com/shop", "a\r\nb", "[Install]\r\nTitle=x",
    "<Desktop>\\x.lnk", "<Program Files>\\App", "<Programs Menu><My Documents>", "<nope>", "<>",
    "<<Desktop>", "<Desktop", LONG_VALUE.c_str()};
// clang-format on
constexpr int VALUE_COUNT = sizeof VALUES / sizeof VALUES[0];

const char* const MACRO_NAMES[] = {"Program Files", "Desktop", "Programs Menu", "My Documents"};
const char* const FOLDER_PATTERNS[] = {"C:\\Program Files\\Folder ", "<Desktop>\\y\\", "x"};

enum Kind {
  SELECT,
  GET_STRING,
  GET_BOOL,
  GET_SECTION_TEXT,
  FIND_KEY,
  SET_VALUE,
  TRUNCATE,
  GET_PATH,
  COPY,
  RESERVE,
  TERMINATE,
  KIND_COUNT
};

struct Choice {
  int index;  // into the table, or the table's size for a piece of the text
  uint16_t offset;
  int length;
};

struct Operation {
  int kind;
  Choice name;
  Choice value;
  int size;   // output buffer size
  int extra;  // for Reserve
};

Choice ConsumeChoice(FuzzedDataProvider& in, int tableSize) {
  Choice c;
  c.index = in.ConsumeIntegralInRange<int>(0, tableSize);
  c.offset = in.ConsumeIntegral<uint16_t>();
  c.length = in.ConsumeIntegralInRange<int>(0, 40);
  return c;
}

// The argument as the document sees it: a zero-terminated text.
std::string Resolve(const Choice& c, const char* const* table, int tableSize,
                    const std::string& text) {
  std::string s;
  if (c.index < tableSize) {
    s = table[c.index];
  } else if (!text.empty()) {
    size_t from = c.offset % text.size();
    s = text.substr(from, static_cast<size_t>(c.length));
  }
  return s.substr(0, s.find('\0'));
}

// ------------------------------------------------------------------ model

bool IsSpace(char c) { return c >= 1 && c <= 32; }
char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

struct Model {
  std::string text;
  long cursor = -1;  // offset of the selected section's body, or -1

  // Every scan sees the text followed by a zero byte.
  char At(size_t i) const { return i < text.size() ? text[i] : 0; }
  bool Equal(size_t at, const std::string& name) const {
    for (size_t i = 0; i < name.size(); ++i) {
      if (Fold(At(at + i)) != Fold(name[i])) return false;
    }
    return true;
  }
  size_t NextLine(size_t p) const {
    while (At(p) && At(p) != '\n') ++p;
    return At(p) ? p + 1 : p;
  }
  size_t FindSection(const std::string& name) const {
    size_t p = 0;
    while (At(p)) {
      if (At(p) == '[' && Equal(p + 1, name) && At(p + 1 + name.size()) == ']') return p;
      p = NextLine(p);
    }
    return p;
  }
  bool Select(const std::string& name) {
    size_t p = FindSection(name);
    cursor = static_cast<long>(NextLine(p));
    return At(p) != 0;
  }
  bool FindKey(const std::string& key, size_t* value, size_t* length) const {
    if (cursor < 0) return false;
    for (size_t p = static_cast<size_t>(cursor); At(p) && At(p) != '['; p = NextLine(p)) {
      if (!Equal(p, key)) continue;
      size_t q = p + key.size();
      while (IsSpace(At(q))) ++q;
      if (At(q) != '=') continue;
      size_t end = q + 1;
      while (At(end) && At(end) != '\r' && At(end) != '\n') ++end;
      *value = q + 1;
      *length = end - (q + 1);
      return true;
    }
    return false;
  }
  bool GetString(const std::string& key, size_t size, std::string* out) const {
    size_t v, n;
    out->clear();
    if (!FindKey(key, &v, &n)) return false;
    std::string s = text.substr(v, n);
    size_t b = 0, e = s.size();
    while (b < e && IsSpace(s[b])) ++b;
    while (e > b && IsSpace(s[e - 1])) --e;
    *out = s.substr(b, std::min(e - b, size - 1));
    return true;
  }
  std::string SectionText(const std::string& name, size_t size) {
    Select(name);
    size_t from = static_cast<size_t>(cursor), p = from;
    while (At(p) && At(p) != '[') p = NextLine(p);
    size_t n = p - from;
    while (n > 0 && IsSpace(text[from + n - 1])) --n;
    return text.substr(from, std::min(n, size - 1));
  }
  bool SetValue(const std::string& key, const std::string& value) {
    size_t v, n;
    if (!FindKey(key, &v, &n)) return false;
    text.replace(v, n, value);
    return true;
  }
  void Truncate(const std::string& name) {
    if (text.empty()) return;
    size_t p = FindSection(name);
    if (At(p)) text.resize(p);
    cursor = -1;
  }
};

struct MacroValues {
  bool present[4];
  std::string folder[4];
};

// Folder macro expansion on the model's registry; the message is the one
// the error slot should hold afterwards.
bool ModelExpand(const MacroValues& registry, std::string* text, std::string* message) {
  size_t p = 0;
  for (;;) {
    size_t open = text->find('<', p);
    if (open == std::string::npos) return true;
    size_t close = text->find('>', open + 1);
    if (close == std::string::npos) return true;
    std::string name = text->substr(open + 1, close - open - 1);
    std::string tail = text->substr(close + 1);
    text->resize(open);
    int row = -1;
    for (int i = 0; i < 4; ++i) {
      if (name == MACRO_NAMES[i]) row = i;
    }
    if (row < 0) {
      *message = "Macro Unknown: " + name;
      return false;
    }
    if (!registry.present[row] || registry.folder[row].size() > popbox::MAX_NAME_LENGTH) {
      *message = "Macro Undefined: " + name;
      return false;
    }
    if (open + registry.folder[row].size() + tail.size() >= popbox::NAME_BUFFER_SIZE) {
      *message = "String Overflow";
      return false;
    }
    *text += registry.folder[row];
    p = text->size();
    *text += tail;
  }
}

void CheckSame(const popbox::ScriptDocument& doc, const Model& model) {
  FUZZ_CHECK(doc.Length() >= 0 && doc.Length() <= doc.Capacity());
  FUZZ_CHECK((doc.Capacity() == 0) == (doc.Text() == nullptr));
  FUZZ_CHECK(static_cast<size_t>(doc.Length()) == model.text.size());
  FUZZ_CHECK(model.text.empty() || memcmp(doc.Text(), model.text.data(), model.text.size()) == 0);
  if (model.cursor < 0) {
    FUZZ_CHECK(doc.Cursor() == nullptr);
  } else {
    FUZZ_CHECK(doc.Cursor() != nullptr && doc.Cursor() - doc.Text() == model.cursor);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);

  // The registry: each folder absent, too long for a path, or of 0 to 259
  // characters built from a pattern (one holds a macro, which must stay).
  MacroValues registry;
  popbox::ClearRegistryTable();
  for (int i = 0; i < 4; ++i) {
    int code = in.ConsumeIntegralInRange<int>(0, 261);
    const char* pattern = FOLDER_PATTERNS[in.ConsumeIntegralInRange<int>(0, 2)];
    registry.present[i] = code != 261;
    std::string folder;
    while (folder.size() < static_cast<size_t>(code)) folder += pattern;
    folder.resize(static_cast<size_t>(code == 261 ? 0 : code));
    registry.folder[i] = folder;
    const popbox::FolderMacro* row = popbox::FindFolderMacro(MACRO_NAMES[i]);
    FUZZ_CHECK(row != nullptr);
    popbox::SetRegistryTableString(row->root, row->keyPath, row->valueName,
                                   registry.present[i] ? folder.c_str() : nullptr);
  }

  std::vector<Operation> program(static_cast<size_t>(in.ConsumeIntegralInRange<int>(0, 24)));
  for (Operation& op : program) {
    op.kind = in.ConsumeIntegralInRange<int>(0, KIND_COUNT - 1);
    op.name = ConsumeChoice(in, NAME_COUNT);
    op.value = ConsumeChoice(in, VALUE_COUNT);
    op.size = in.ConsumeIntegralInRange<int>(1, 3000);
    op.extra = in.ConsumeIntegralInRange<int>(-5, 600);
  }
  std::string text = in.ConsumeRemainingBytesAsString();

  popbox::ScriptDocument doc;
  doc.LoadFromText(text.data(), static_cast<int32_t>(text.size()));
  Model model{text, -1};
  CheckSame(doc, model);

  // FUZZ_TRACE=1 prints the program, to read a failing input.
  static const bool trace = getenv("FUZZ_TRACE") != nullptr;
  if (trace) fprintf(stderr, "text of %zu bytes, %zu operations\n", text.size(), program.size());
  for (const Operation& op : program) {
    std::string name = Resolve(op.name, NAMES, NAME_COUNT, model.text);
    std::string value = Resolve(op.value, VALUES, VALUE_COUNT, model.text);
    if (trace) {
      fprintf(stderr, "op %d name \"%s\" value \"%.20s\" size %d extra %d\n", op.kind, name.c_str(),
              value.c_str(), op.size, op.extra);
    }
    std::vector<char> buffer(static_cast<size_t>(op.size));
    std::string expected;
    switch (op.kind) {
      case SELECT:
        FUZZ_CHECK(doc.SelectSection(name.c_str()) == model.Select(name));
        break;
      case GET_STRING: {
        bool found = model.GetString(name, buffer.size(), &expected);
        FUZZ_CHECK(doc.GetString(name.c_str(), buffer.data(), op.size) == found);
        FUZZ_CHECK(expected == std::string(buffer.data()));
        break;
      }
      case GET_BOOL: {
        model.GetString(name, 2, &expected);
        char c = expected.empty() ? 0 : expected[0];
        bool flag = c == 'T' || c == 't' || c == 'Y' || c == 'y' || c == '1';
        FUZZ_CHECK(doc.GetBool(name.c_str()) == flag);
        break;
      }
      case GET_SECTION_TEXT:
        expected = model.SectionText(name, buffer.size());
        doc.GetSectionText(name.c_str(), buffer.data(), op.size);
        // The section text may hold a zero byte of the script's own.
        FUZZ_CHECK(memcmp(buffer.data(), expected.data(), expected.size()) == 0);
        FUZZ_CHECK(buffer[expected.size()] == 0);
        break;
      case FIND_KEY: {
        size_t v = 0, n = 0;
        char* value_ = nullptr;
        int32_t length = -1;
        bool found = model.FindKey(name, &v, &n);
        FUZZ_CHECK(doc.FindKey(name.c_str(), &value_, &length) == found);
        if (found) {
          FUZZ_CHECK(value_ - doc.Text() == static_cast<long>(v));
          FUZZ_CHECK(length == static_cast<int32_t>(n));
        }
        break;
      }
      case SET_VALUE:
        FUZZ_CHECK(doc.SetValue(name.c_str(), value.c_str()) == model.SetValue(name, value));
        break;
      case TRUNCATE:
        doc.TruncateAtSection(name.c_str());
        model.Truncate(name);
        break;
      case GET_PATH: {
        // The path buffer of the callers: exactly NAME_BUFFER_SIZE bytes.
        std::vector<char> path(popbox::NAME_BUFFER_SIZE);
        std::string message;
        bool ok = model.GetString(name, popbox::NAME_BUFFER_SIZE, &expected);
        if (!ok) {
          message = "INI Symbol Undefined: " + name;
        } else {
          ok = ModelExpand(registry, &expected, &message);
        }
        popbox::ClearError();
        FUZZ_CHECK(doc.GetPath(name.c_str(), path.data()) == ok);
        FUZZ_CHECK(expected == std::string(path.data()));
        FUZZ_CHECK(message == popbox::ErrorMessage());
        break;
      }
      case COPY: {
        popbox::ScriptDocument copy(doc);
        Model copied{model.text, -1};
        CheckSame(copy, copied);
        doc.CopyFrom(copy);
        model.cursor = -1;
        break;
      }
      case RESERVE: {
        int32_t before = doc.Capacity();
        doc.Reserve(op.extra);
        int64_t needed = static_cast<int64_t>(doc.Length()) + op.extra;
        if (op.extra <= 0 || needed <= before) {
          FUZZ_CHECK(doc.Capacity() == before);
        } else {
          FUZZ_CHECK(doc.Capacity() == needed + popbox::RESERVE_SLACK);
        }
        break;
      }
      case TERMINATE: {
        char* t = doc.TerminatedText();
        FUZZ_CHECK(t == doc.Text() && t[doc.Length()] == 0);
        break;
      }
    }
    CheckSame(doc, model);
  }
  return 0;
}
