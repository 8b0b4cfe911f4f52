#include "packer/check.h"

#include <string.h>

#include <algorithm>
#include <map>

#include "base/error_slot.h"
#include "base/text.h"
#include "install/install_checks.h"
#include "install/install_paths.h"
#include "packer/common/codepage.h"
#include "packer/common/packer_error.h"
#include "payload/payload_format.h"
#include "platform/registry.h"
#include "script/folder_macros.h"
#include "script/script_document.h"
#include "script/setup_ini.h"

namespace popbox {

namespace {

const char TYPICAL_USER[] = "C:\\Users\\A_user_name_20_chars";  // 20 characters
const char TYPICAL_FOLDERS_NOTE[] =
    "typical folders: C:\\Program Files (x86) and a user name of 20 characters";
const std::string TYPICAL_INSTALL_NOTE = "an install folder of " +
                                         std::to_string(TYPICAL_INSTALL_FOLDER_LENGTH) +
                                         " characters (C:\\Program Files (x86)\\ and 40 more)";

// The keys the setup reads, by section.
struct SectionKeys {
  const char* section;
  std::vector<std::string> keys;
};
const SectionKeys VENDOR_KEYS = {SECTION_VENDOR, {KEY_NAME, KEY_URL}};
const SectionKeys INSTALL_KEYS = {SECTION_INSTALL,
                                  {KEY_TITLE, KEY_APP_DIR_CAPTION, KEY_DEFAULT_APP_DIR,
                                   KEY_START_PROGRAMS_LINK, KEY_START_PROGRAMS_LINK_SELECTED,
                                   KEY_DESKTOP_LINK, KEY_DESKTOP_LINK_SELECTED, KEY_LINK_TARGET}};

const char* const REQUIRED_PATHS[] = {KEY_DEFAULT_APP_DIR, KEY_START_PROGRAMS_LINK,
                                      KEY_DESKTOP_LINK, KEY_LINK_TARGET};

std::string Quote(const std::string& text) { return "\"" + text + "\""; }

bool SameNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && EqualNoCase(a.data(), b.data(), static_cast<uint32_t>(a.size()));
}

// Edit distance without regard to ASCII case, for "did you mean".
size_t Distance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t above = row[j];
      bool same =
          FoldCase(static_cast<uint8_t>(a[i - 1])) == FoldCase(static_cast<uint8_t>(b[j - 1]));
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The script checks over one document. Lines are found by counting the
// line feeds before a position in the document's text.
class ScriptCheck {
 public:
  ScriptCheck(const std::string& shown, const std::string& text,
              const std::vector<PackageRecord>& records, const std::vector<LeftOut>& leftOut,
              const CodePage& page, Diagnostics& out)
      : shown_(shown), text_(text), records_(records), leftOut_(leftOut), page_(page), out_(out) {
    doc_.LoadFromText(text.data(), static_cast<int32_t>(text.size()));
  }

  void Run() {
    FillTypicalFolders();
    if (!Encoding()) return;  // nothing else reads sensibly
    Headers();
    Install();
    Vendor();
    UnknownKeys(VENDOR_KEYS, INSTALL_KEYS);
    UnknownKeys(INSTALL_KEYS, VENDOR_KEYS);
    InstalledMessage();
    LongNames();
    ClearError();
  }

 private:
  void Error(int line, const std::string& message) { out_.Error(shown_, line, message); }
  void Warning(int line, const std::string& message) { out_.Warning(shown_, line, message); }

  int LineAt(size_t offset) const {
    return 1 + static_cast<int>(std::count(text_.begin(), text_.begin() + offset, '\n'));
  }
  int LineOf(const char* p) { return LineAt(static_cast<size_t>(p - doc_.TerminatedText())); }

  // The header of a section as the setup finds it: null when absent.
  const char* Header(const char* name) {
    const char* p = doc_.FindSection(name);
    return *p ? p : nullptr;
  }

  // UTF-16, a byte-order mark, UTF-8 text and zero bytes: the setup takes
  // the bytes as they are, in the code page of the machine. False when the
  // text is UTF-16, which nothing else can be read from.
  bool Encoding() {
    const std::string number = std::to_string(CodePageNumber(page_));
    auto save = [&number](const char* from) {
      return "; save Setup.ini in code page " + number +
             " (\"ANSI\" in Notepad; on Linux iconv -f " + from + " -t CP" + number + ")";
    };
    size_t zeros = std::count(text_.begin(), text_.end(), '\0');
    if (text_.compare(0, 2, "\xFF\xFE") == 0 || text_.compare(0, 2, "\xFE\xFF") == 0 ||
        (text_.size() >= 4 && zeros * 3 >= text_.size())) {
      Error(1,
            "is saved as UTF-16 (Notepad's \"Unicode\"); the setup reads it byte by byte and "
            "would find no section" +
                save("UTF-16"));
      return false;
    }
    size_t start = 0;
    if (text_.compare(0, 3, "\xEF\xBB\xBF") == 0) {
      Warning(1,
              "starts with a UTF-8 byte order mark; the setup does not skip it, so the first "
              "line is not read as a section header");
      start = 3;
    }
    if (zeros != 0) {
      Warning(LineAt(text_.find('\0')), "holds a zero byte; the setup reads nothing after it");
    }
    // The first line with UTF-8 text beyond ASCII; once is enough.
    for (size_t line = start; line < text_.size();) {
      size_t end = std::min(text_.find('\n', line), text_.size());
      std::string content = text_.substr(line, end - line);
      while (!content.empty() && content.back() == '\r') content.pop_back();
      std::string bytes, problem;
      if (IsUtf8(content) && HasHighBytes(content)) {
        if (!Utf8ToCodePage(page_, content, &bytes, &problem)) {
          Error(LineAt(line), "holds UTF-8 text with " + problem + ", which code page " +
                                  std::to_string(CodePageNumber(page_)) +
                                  " cannot hold; the setup would show other characters" +
                                  save("UTF-8"));
        } else {
          Warning(LineAt(line), "holds UTF-8 text; the setup would show " +
                                    Quote(CodePageToUtf8(page_, content)) + save("UTF-8"));
        }
        break;
      }
      line = end + 1;
    }
    return true;
  }

  // Sections named twice, and sections behind [PRIVATE].
  void Headers() {
    std::map<std::string, int> first;  // section name in lower case -> line
    int privateLine = 0;
    for (size_t p = 0; p < text_.size(); p = std::min(text_.find('\n', p), text_.size()) + 1) {
      if (text_[p] != '[') continue;
      size_t close = text_.find(']', p);
      if (close == std::string::npos || close > text_.find('\n', p)) continue;
      std::string name = text_.substr(p + 1, close - p - 1);
      std::string key = name;
      for (char& c : key) c = static_cast<char>(FoldCase(static_cast<uint8_t>(c)));
      int line = LineAt(p);
      auto inserted = first.emplace(key, line);
      if (!inserted.second) {
        Warning(line, "a second [" + name + "] section; the setup reads only the first, on line " +
                          std::to_string(inserted.first->second));
      }
      if (privateLine > 0) {
        const std::string privateHeader = std::string("[") + SECTION_PRIVATE + "]";
        Warning(line, "[" + name + "] follows " + privateHeader + " (line " +
                          std::to_string(privateLine) + "); the installed copy of Setup.ini ends " +
                          "before " + privateHeader + " and will not hold it");
        privateLine = -1;  // once is enough
      }
      if (SameNoCase(name, SECTION_PRIVATE) && privateLine == 0) privateLine = line;
      SectionName(name, line);
    }
  }

  // A section the setup never reads, written like one it does.
  void SectionName(const std::string& name, int line) {
    const char* known[] = {SECTION_VENDOR, SECTION_INSTALL, SECTION_INSTALLED_MESSAGE,
                           SECTION_PRIVATE};
    std::string trimmed = name.substr(0, name.find_last_not_of(" \t") + 1);
    trimmed.erase(0, std::min(trimmed.find_first_not_of(" \t"), trimmed.size()));
    const char* nearest = nullptr;
    size_t best = std::string::npos;
    for (const char* k : known) {
      if (SameNoCase(name, k)) return;
      if (SameNoCase(trimmed, k)) {
        Warning(line, "[" + name + "] is not read as [" + k +
                          "]: the setup allows no blanks inside the brackets");
        return;
      }
      if (Distance(name, k) < best) best = Distance(name, k), nearest = k;
    }
    if (best <= std::max<size_t>(2, strlen(nearest) / 4)) {
      Warning(line, "[" + name + "] is never read by the setup; did you mean [" + nearest + "]?");
    }
  }

  void Install() {
    const char* header = Header(SECTION_INSTALL);
    if (!header) {
      std::string keys = REQUIRED_PATHS[0];
      for (size_t k = 1; k < 4; ++k)
        keys += (k < 3 ? ", " : " and ") + std::string(REQUIRED_PATHS[k]);
      Error(0, "there is no [" + std::string(SECTION_INSTALL) +
                   "] section; the setup needs its keys " + keys +
                   " (it would stop with \"INI Symbol Undefined: " + REQUIRED_PATHS[0] + "\")");
      return;
    }
    int headerLine = LineOf(header);
    doc_.SelectSection(SECTION_INSTALL);
    for (const char* key : REQUIRED_PATHS) Path(key, headerLine);
    const struct {
      const char* key;
      const char* without;
    } shown[] = {{KEY_TITLE, "the setup dialog will have no caption"},
                 {KEY_APP_DIR_CAPTION, "there will be no text above the install folder"}};
    for (const auto& text : shown) {
      char* value;
      int32_t length;
      if (!doc_.FindKey(text.key, &value, &length)) {
        Warning(headerLine,
                "[" + std::string(SECTION_INSTALL) + "] has no " + text.key + "; " + text.without);
      }
    }

    auto found = expanded_.find(KEY_DEFAULT_APP_DIR);
    if (found != expanded_.end() && !IsAbsolutePath(found->second.c_str())) {
      Warning(lines_[KEY_DEFAULT_APP_DIR],
              std::string(KEY_DEFAULT_APP_DIR) + " gives " + Quote(found->second) +
                  ", which is not an absolute folder; the user would have to type one");
    }
    for (const char* key : {KEY_START_PROGRAMS_LINK, KEY_DESKTOP_LINK}) {
      found = expanded_.find(key);
      if (found == expanded_.end()) continue;
      const std::string& path = found->second;
      if (!ShortcutFolder(key)) continue;
      if (!IsAbsolutePath(path.c_str())) {
        Warning(lines_[key], std::string(key) + " gives " + Quote(path) +
                                 ", which is not an absolute path; the setup could not create "
                                 "the shortcut there");
      } else if (path.size() < 4 || !SameNoCase(path.substr(path.size() - 4), ".lnk")) {
        Warning(lines_[key], std::string(key) +
                                 " does not end in .lnk; Windows would not take the file for a "
                                 "shortcut");
      }
    }
    auto start = expanded_.find(KEY_START_PROGRAMS_LINK),
         desktop = expanded_.find(KEY_DESKTOP_LINK);
    if (start != expanded_.end() && desktop != expanded_.end() &&
        CaseFoldKey(page_, start->second) == CaseFoldKey(page_, desktop->second)) {
      Error(lines_[KEY_DESKTOP_LINK],
            std::string(KEY_START_PROGRAMS_LINK) + " and " + KEY_DESKTOP_LINK +
                " name the same file; the second shortcut would replace the first, and a "
                "second install would be refused");
    }
    LinkTarget();
  }

  // A shortcut goes straight into a folder the setup finds in place (one
  // of the macro folders): the setup makes no folder for it.
  bool ShortcutFolder(const char* key) {
    std::string value = raw_[key];
    size_t close = value.find('>');
    size_t last = value.rfind('\\');
    bool inMacroFolder =
        !value.empty() && value[0] == '<' && close != std::string::npos && last == close + 1;
    if (inMacroFolder) return true;
    std::string name = value.substr(last == std::string::npos ? 0 : last + 1);
    std::string macro = std::string(key) == KEY_DESKTOP_LINK ? "<Desktop>" : "<Programs Menu>";
    std::string where = value.empty() || value[0] != '<'
                            ? " names a fixed folder, which a user's machine may not have"
                            : " puts the shortcut in a folder below " + value.substr(0, close + 1);
    Error(lines_[key], std::string(key) + " " + Quote(value) + where +
                           "; the setup makes no folder for a shortcut, so on a machine without "
                           "it the install stops with \"Can't create link:\" after the files "
                           "are written. Write " +
                           macro + "\\" + name);
    return false;
  }

  // One path key: present, within 259 characters, and expanding with the
  // setup's own code. The expansion is kept for the later checks.
  void Path(const char* key, int headerLine) {
    char* value;
    int32_t length;
    if (!doc_.FindKey(key, &value, &length)) {
      Error(headerLine, std::string("[Install] has no ") + key +
                            "; the setup would stop with \"INI Symbol Undefined: " + key + "\"");
      return;
    }
    int line = LineOf(value);
    lines_[key] = line;
    std::vector<char> raw(value, value + length);
    raw.push_back(0);
    TrimText(raw.data());
    size_t trimmed = strlen(raw.data());
    if (trimmed > MAX_NAME_LENGTH) {
      Error(line, std::string(key) + " is " + std::to_string(trimmed) +
                      " characters long; the setup reads only the first " +
                      std::to_string(MAX_NAME_LENGTH));
      return;
    }
    raw_[key] = raw.data();
    if (strchr(raw.data(), '/')) {
      std::string fixed = raw.data();
      std::replace(fixed.begin(), fixed.end(), '/', '\\');
      Error(line, std::string(key) +
                      " holds '/'; the setup takes only '\\' between folders. Write " +
                      Quote(fixed));
      return;
    }
    char buffer[NAME_BUFFER_SIZE];
    ClearError();
    if (doc_.GetPath(key, buffer)) {
      expanded_[key] = buffer;
      return;
    }
    std::string message = ErrorMessage();
    if (LastErrorKind() == ErrorKind::MacroUnknown) {
      std::string name = ErrorDetail();
      const FolderMacro* near = nullptr;
      for (const FolderMacro* row = FOLDER_MACROS; row->macroName; ++row) {
        if (SameNoCase(row->macroName, name)) near = row;
      }
      if (near) {
        Error(line, "the folder macro <" + name + "> is written in other case than <" +
                        near->macroName +
                        ">; macro names must match exactly (the setup would "
                        "stop with " +
                        Quote(message) + ")");
      } else {
        std::string known;
        for (const FolderMacro* row = FOLDER_MACROS; row->macroName; ++row) {
          if (row != FOLDER_MACROS) known += row[1].macroName ? ", " : " and ";
          known += std::string("<") + row->macroName + ">";
        }
        Error(line, "the folder macro <" + name + "> is unknown; the setup knows " + known +
                        " (it would stop with " + Quote(message) + ")");
      }
    } else if (LastErrorKind() == ErrorKind::StringOverflow) {
      Warning(line, std::string(key) + " expands to more than " + std::to_string(MAX_NAME_LENGTH) +
                        " characters with " + TYPICAL_FOLDERS_NOTE +
                        "; the setup would stop with \"String Overflow\"");
    } else {
      Error(line, std::string(key) + ": the setup would stop with " + Quote(message));
    }
  }

  // The file the shortcuts and the closing question start: a file record.
  void LinkTarget() {
    auto found = expanded_.find(KEY_LINK_TARGET);
    if (found == expanded_.end()) return;
    int line = lines_[KEY_LINK_TARGET];
    const std::string& target = found->second;
    const std::string key = KEY_LINK_TARGET;
    if (target.empty()) {
      Error(line, key + " is empty; it must name a file of the application folder");
      return;
    }
    const std::string named = key + " " + Quote(CodePageToUtf8(page_, raw_[key]));
    if (!IsSafeRecordName(target.c_str())) {
      Error(line, named +
                      " must name a file below the install folder, as app.exe or bin\\app.exe: " +
                      WhyNotBelow(target));
      return;
    }
    std::string folded = CaseFoldKey(page_, target);
    for (const PackageRecord& record : records_) {
      if (CaseFoldKey(page_, record.name) != folded) continue;
      if (record.type != BLOB_FILE) Error(line, named + " is a folder; it must name a file");
      return;
    }
    for (const LeftOut& left : leftOut_) {
      std::string leftKey = CaseFoldKey(page_, left.recordName);
      if (!left.recordName.empty() &&
          (leftKey == folded || folded.compare(0, leftKey.size() + 1, leftKey + "\\") == 0)) {
        Error(line, named + " is left out of the setup by the pattern " + Quote(left.pattern) +
                        " (" + left.hostPath + ")");
        return;
      }
    }
    Error(line, named + " is not a file of the application folder");
  }

  // Why a LinkTarget value (expanded) is no name below the install folder.
  std::string WhyNotBelow(const std::string& target) {
    const std::string& raw = raw_[KEY_LINK_TARGET];
    if (target[0] == '\\' || target.find(':') != std::string::npos) {
      return "it is an absolute path" +
             (raw == target ? "" : " (it expands to " + Quote(CodePageToUtf8(page_, target)) + ")");
    }
    for (size_t at = 0; at <= target.size();) {
      size_t end = std::min(target.find('\\', at), target.size());
      std::string element = target.substr(at, end - at);
      if (element == "." || element == "..") return "it climbs with \".\" or \"..\"";
      if (element.empty()) return "it holds an empty folder name";
      std::string problem = CheckNameElement(element);
      if (!problem.empty()) return Quote(CodePageToUtf8(page_, element)) + ": " + problem;
      at = end + 1;
    }
    return "the setup refuses it";
  }

  void Vendor() {
    const char* header = Header(SECTION_VENDOR);
    if (!header) return;
    doc_.SelectSection(SECTION_VENDOR);
    char name[2];
    char* value;
    int32_t length;
    // The store layout: Name present and empty, as the dialog tests it.
    if (doc_.GetString(KEY_NAME, name, sizeof name) && !name[0] &&
        !doc_.FindKey(KEY_URL, &value, &length)) {
      Warning(LineOf(header), "the store layout (an empty " + std::string(KEY_NAME) +
                                  ") asks for the store's web address, but [" + SECTION_VENDOR +
                                  "] has no " + KEY_URL +
                                  " key, so the installed Setup.ini will not carry it");
    }
  }

  // Keys of a section that the setup never reads (likely typos), keys
  // that it cannot see (indented), and keys given twice.
  void UnknownKeys(const SectionKeys& known, const SectionKeys& other) {
    const char* header = Header(known.section);
    if (!header) return;
    std::string section = std::string("[") + known.section + "]";
    std::map<std::string, int> seen;
    size_t p = static_cast<size_t>(header - doc_.TerminatedText());
    for (p = text_.find('\n', p); p != std::string::npos && p + 1 < text_.size();
         p = text_.find('\n', p + 1)) {
      size_t start = p + 1;
      if (text_[start] == '[') break;  // the end of the body, as the setup sees it
      std::string line = text_.substr(start, text_.find('\n', start) - start);
      size_t equals = line.find('=');
      if (equals == std::string::npos || line[0] == ';' || line[0] == '#') continue;
      bool indented = IsWhiteSpace(static_cast<uint8_t>(line[0]));
      size_t keyStart = line.find_first_not_of(" \t");
      if (keyStart >= equals) continue;
      std::string key = line.substr(keyStart, equals - keyStart);
      key = key.substr(0, std::min(key.find_first_of(" \t\r"), key.size()));
      int number = LineAt(start);

      const std::string* match = nullptr;
      const std::string* nearest = nullptr;
      size_t best = std::string::npos;
      for (const std::string& k : known.keys) {
        if (SameNoCase(key, k)) match = &k;
        size_t d = Distance(key, k);
        if (d < best) best = d, nearest = &k;
      }
      if (match && indented) {
        Warning(number, "the key " + key +
                            " is indented; the setup reads keys only at the start of a line");
      } else if (match) {
        auto inserted = seen.emplace(*match, number);
        if (!inserted.second) {
          Warning(number, "a second " + *match + " in " + section +
                              "; the setup reads only the first, on line " +
                              std::to_string(inserted.first->second));
        }
      } else {
        std::string message = section + " " + key + " is never read by the setup";
        bool elsewhere = std::any_of(other.keys.begin(), other.keys.end(),
                                     [&](const std::string& k) { return SameNoCase(key, k); });
        if (elsewhere) {
          message += std::string("; it belongs in [") + other.section + "]";
        } else if (best <= std::max<size_t>(2, nearest->size() / 3)) {
          message += "; did you mean " + *nearest + "?";
        }
        Warning(number, message);
      }
    }
  }

  void InstalledMessage() {
    const char* header = Header(SECTION_INSTALLED_MESSAGE);
    if (!header) return;
    int line = LineOf(header);
    std::vector<char> buffer(text_.size() + 1);
    doc_.GetSectionText(SECTION_INSTALLED_MESSAGE, buffer.data(),
                        static_cast<int32_t>(buffer.size()));
    size_t length = strlen(buffer.data());
    const size_t kept = INSTALLED_MESSAGE_SIZE - 1;
    if (length > kept) {
      Warning(line, "[" + std::string(SECTION_INSTALLED_MESSAGE) + "] is " +
                        std::to_string(length) +
                        " characters long; the setup shows only the first " + std::to_string(kept));
    }
  }

  // Each record lands at install folder + "\" + name, which must stay within
  // 259 characters. Only the first record of a too-long branch is named.
  void LongNames() {
    size_t folder = TYPICAL_INSTALL_FOLDER_LENGTH;
    std::string assumed = TYPICAL_INSTALL_NOTE;
    auto found = expanded_.find(KEY_DEFAULT_APP_DIR);
    if (found != expanded_.end() && found->second.size() > folder) {
      folder = found->second.size();
      assumed = "the proposed install folder " + Quote(found->second);
    }
    std::string reported;  // a folder record already named, with its backslash
    for (const PackageRecord& record : records_) {
      if (!reported.empty() && record.name.compare(0, reported.size(), reported) == 0) continue;
      size_t length = folder + 1 + record.name.size();
      if (length <= MAX_NAME_LENGTH) continue;
      out_.Warning(record.shown, 0,
                   "with " + assumed + ", its path would be " + std::to_string(length) +
                       " characters, more than " + std::to_string(MAX_NAME_LENGTH) +
                       "; the setup would refuse that install folder as too long");
      reported = record.name + "\\";
    }
    for (const PackageRecord& record : records_) {
      if (!IsSafeRecordName(record.name.c_str())) {
        out_.Error(record.shown, 0,
                   "is no safe record name; the setup would stop with \"Bad BLOB Name: " +
                       CodePageToUtf8(page_, record.name) + "\"");
      }
    }
  }

  const std::string& shown_;
  const std::string& text_;
  const std::vector<PackageRecord>& records_;
  const std::vector<LeftOut>& leftOut_;
  const CodePage& page_;
  Diagnostics& out_;
  ScriptDocument doc_;
  std::map<std::string, std::string> expanded_;  // path key -> expanded value
  std::map<std::string, std::string> raw_;       // path key -> value as written, trimmed
  std::map<std::string, int> lines_;             // path key -> line
};

}  // namespace

void FillTypicalFolders() {
  const std::string user = TYPICAL_USER;
  const struct {
    const char* macro;
    std::string folder;
  } typical[] = {
      {"Program Files", "C:\\Program Files (x86)"},
      {"Desktop", user + "\\Desktop"},
      {"Programs Menu", user + "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs"},
      {"My Documents", user + "\\Documents"},
  };
  ClearRegistryTable();
  for (const auto& row : typical) {
    const FolderMacro* macro = FindFolderMacro(row.macro);
    SetRegistryTableString(macro->root, macro->keyPath, macro->valueName, row.folder.c_str());
  }
}

void CheckScript(const std::string& shown, const std::string& text,
                 const std::vector<PackageRecord>& records, const CodePage& page,
                 Diagnostics* diagnostics, const std::vector<LeftOut>& leftOut) {
  ScriptCheck(shown, text, records, leftOut, page, *diagnostics).Run();
}

AppFolder CheckAppFolder(const std::string& appFolder, const CodePage& page,
                         const Exclusions& exclusions, Diagnostics* diagnostics) {
  AppFolder folder = ListAppFolder(appFolder, page, exclusions, diagnostics);
  const std::vector<AppRecord>& records = folder.records;
  if (records.empty() || !EqualTextNoCase(records[0].recordName.c_str(), SETUP_SCRIPT_NAME)) {
    return folder;  // no Setup.ini: already reported
  }
  const AppRecord& script = records[0];
  std::vector<uint8_t> bytes;
  try {
    bytes = ReadWholeFile(script.hostPath, MAX_FILE_SIZE);
  } catch (const PackerError&) {
    diagnostics->Error(script.hostPath, 0, "cannot be read");
    return folder;
  }
  std::vector<PackageRecord> checked;
  for (const AppRecord& record : records) {
    checked.push_back({record.recordName, record.type, record.hostPath});
  }
  CheckScript(script.hostPath, std::string(bytes.begin(), bytes.end()), checked, page, diagnostics,
              folder.leftOut);
  return folder;
}

}  // namespace popbox
