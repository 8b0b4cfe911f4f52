// popbox: the tool that builds setups and reads them back. This file parses
// the command line and dispatches; each command lives in its own file.
// Exit codes: 0 success, 1 a failure of the input, 2 a usage error.
#include <algorithm>
#include <cstring>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "packer/commands.h"
#include "packer/common/codepage.h"
#include "packer/common/packer_error.h"
#include "payload/payload_format.h"

#ifndef POPBOX_VERSION
#define POPBOX_VERSION "unknown"
#endif

namespace {

struct Parsed;

// One row per command: what parsing, `popbox help`, the usage and the
// manual page say of it, and the function that runs it.
struct Command {
  const char* name;
  size_t arguments;      // all of them required
  const char* synopsis;  // "usage: popbox SYNOPSIS"; its part before " [OPTIONS]" heads the summary
  const char* summary;   // its line in `popbox help`
  const char* text;      // `popbox help NAME` and the manual; {PLACEHOLDERS} are filled in
  int (*run)(const Parsed&);
};

// One row per option: what parsing, the help and the manual page say of
// it. A command's help lists its options in the order of the rows.
struct Option {
  const char* name;      // --name
  char letter;           // -l, or 0
  const char* value;     // what its value is called, or null for a flag
  const char* help;      // with its default; lines split at \n, {PLACEHOLDERS} filled in
  const char* commands;  // the commands that take it, separated by blanks
  bool repeats;          // may be given more than once
};

constexpr Option OPTIONS[] = {
    {"output", 'o', "OUT.exe", "the setup to write", "pack", false},
    {"stub", 0, "FILE", "the stub (default: the first that exists of\n{STUB_PLACES})", "pack",
     false},
    {"store", 0, nullptr, "store every file as it is, uncompressed", "pack", false},
    {"quiet", 'q', nullptr, "errors only: no warnings, progress or summary", "check pack", false},
    {"jobs", 'j', "N",
     "how many processors compress (default: {JOBS});\nthe output does not depend on it", "pack",
     false},
    {"codepage", 0, "N",
     "the Windows code page of record names: 1252\n(Western, the default), 1250 (Central\n"
     "European) or 1251 (Cyrillic)",
     "init check pack list verify extract", false},
    {"exclude", 0, "PATTERN",
     "leave out files and folders matching PATTERN\n(a glob; may be given again); "
     "APPDIR/.popboxignore\nadds one pattern a line",
     "check pack list", true},
    {"icon", 0, "FILE.ico",
     "the setup's icon, for the file and its dialog;\nsizes that do not fit the stub's room are\n"
     "left out with a warning, 16, 32 and 48 first",
     "pack", false},
    {"product-version", 0, "A.B.C.D", "(default: the file version)", "pack", false},
    {"file-version", 0, "A.B.C.D", "(default: the product version)", "pack", false},
    {"product-name", 0, "TEXT", "(default: Setup.ini [Install] Title)", "pack", false},
    {"company", 0, "TEXT", "(default: none)", "pack", false},
    {"description", 0, "TEXT",
     "(default: the product name, with \" Setup\"\nadded unless it ends so)", "pack", false},
    {"copyright", 0, "TEXT", "(default: none)", "pack", false},
    {"original-filename", 0, "NAME", "(default: the name of OUT.exe)", "pack", false},
    {"folder", 0, "PATH", "typed into the folder field (default: the\nfolder proposed)", "try",
     false},
    {"no-programs-link", 0, nullptr, "clear the Start menu shortcut box", "try", false},
    {"no-desktop-link", 0, nullptr, "clear the desktop shortcut box", "try", false},
    {"cancel", 0, nullptr, "press Cancel in the dialog", "try", false},
    {"answer", 0, "ok|cancel", "the answer to the closing question (default: ok)", "try", false},
    {"store-name", 0, "TEXT", "typed in the store layout (default: {STORE_NAME})", "try", false},
    {"store-url", 0, "URL", "typed in the store layout (default: {STORE_URL})", "try", false},
    {"timeout", 0, "SECONDS", "a setup still running then is ended and\nreported (default: 120)",
     "try", false},
    {"keep", 0, "DIR", "make the prefix in DIR, a new or empty folder,\nand keep it to look around",
     "try", false},
    {"json", 0, nullptr, "print the report as one JSON document", "try", false},
    {"screenshots", 0, "DIR", "write a picture of the dialog and of each\nmessage box to DIR",
     "try", false},
};

const char TRY_STORE_NAME[] = "Example Store";
const char TRY_STORE_URL[] = "store.example";

constexpr bool SameText(const char* a, const char* b) {
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}

// Whether the blank-separated `list` holds `word`.
constexpr bool ListHolds(const char* list, const char* word) {
  for (const char* p = list; *p;) {
    const char* w = word;
    while (*p && *p != ' ' && *p == *w) ++p, ++w;
    if (!*w && (!*p || *p == ' ')) return true;
    while (*p && *p != ' ') ++p;
    while (*p == ' ') ++p;
  }
  return false;
}

bool Takes(const Option& option, const char* command) {
  return ListHolds(option.commands, command);
}

unsigned DefaultJobs() {
  unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : cores > 16 ? 16 : cores;
}
const char DEFAULT_JOBS_RULE[] = "the number of processors, at most 16";

// The manual names the stub's places relative to the folder of popbox.
const char MANUAL_BINDIR[] = "BINDIR/";

// The values the texts leave open: this machine's in the help, the rules
// in the manual page.
std::string Fill(std::string text, bool manual) {
  std::vector<std::string> stubs =
      manual ? popbox::StubPlaces(MANUAL_BINDIR) : popbox::StubPlaces();
  const std::pair<std::string, std::string> values[] = {
      {"{PAYLOAD_OFFSET}", std::to_string(popbox::PAYLOAD_OFFSET)},
      {"{JOBS}", manual ? DEFAULT_JOBS_RULE : std::to_string(DefaultJobs())},
      {"{STUB_PLACES}", stubs[0] + "\n" + stubs[1]},
      {"{STORE_NAME}", TRY_STORE_NAME},
      {"{STORE_URL}", TRY_STORE_URL},
  };
  for (const auto& v : values) {
    for (size_t at; (at = text.find(v.first)) != std::string::npos;)
      text.replace(at, v.first.size(), v.second);
  }
  return text;
}

struct UsageError : std::runtime_error {
  explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

struct Parsed {
  const Command* command = nullptr;
  std::vector<std::string> arguments;
  std::map<std::string, std::vector<std::string>> options;  // flags get an empty value
  bool help = false;

  bool Has(const char* name) const { return !Values(name).empty(); }
  std::string Value(const char* name, const std::string& otherwise = "") const {
    std::vector<std::string> values = Values(name);
    return values.empty() ? otherwise : values.front();
  }
  // A name that is not in the command's rows is a slip of this program.
  std::vector<std::string> Values(const char* name) const {
    bool known = false;
    for (const Option& o : OPTIONS) known |= SameText(o.name, name) && Takes(o, command->name);
    if (!known) throw std::logic_error(std::string(command->name) + " takes no --" + name);
    auto found = options.find(name);
    return found == options.end() ? std::vector<std::string>() : found->second;
  }
};

const popbox::CodePage& CodePageOption(const Parsed& parsed) {
  std::string text = parsed.Value("codepage", "1252");
  const popbox::CodePage* page = nullptr;
  if (text.find_first_not_of("0123456789") == std::string::npos && text.size() <= 5) {
    page = popbox::FindCodePage(std::stoi(text));
  }
  if (!page) throw UsageError("--codepage takes 1250, 1251 or 1252, not " + text);
  return *page;
}

unsigned JobsOption(const Parsed& parsed) {
  std::string text = parsed.Value("jobs", std::to_string(DefaultJobs()));
  if (text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos ||
      std::stoi(text) < 1 || std::stoi(text) > 256) {
    throw UsageError("--jobs takes a number from 1 to 256, not " + text);
  }
  return static_cast<unsigned>(std::stoi(text));
}

int ExitCode(bool ok) { return ok ? 0 : popbox::EXIT_BAD_INPUT; }

int RunInit(const Parsed& p) {
  popbox::InitCommand(p.arguments[0], CodePageOption(p), std::cout);
  return 0;
}

int RunCheck(const Parsed& p) {
  const popbox::CodePage& page = CodePageOption(p);
  return ExitCode(popbox::CheckCommand(p.arguments[0], page, p.Values("exclude"), p.Has("quiet"),
                                       std::cout, std::cerr));
}

int RunPack(const Parsed& p) {
  popbox::PackOptions options;
  options.page = &CodePageOption(p);
  options.appFolder = p.arguments[0];
  options.output = p.Value("output");
  if (options.output.empty()) throw UsageError("pack needs -o OUT.exe");
  options.stub = p.Value("stub");
  options.store = p.Has("store");
  options.quiet = p.Has("quiet");
  options.jobs = JobsOption(p);
  options.excludes = p.Values("exclude");
  options.icon = p.Value("icon");
  popbox::VersionOptions& v = options.version;
  v.productVersion = p.Value("product-version");
  v.fileVersion = p.Value("file-version");
  v.productName = p.Value("product-name");
  v.company = p.Value("company");
  v.description = p.Value("description");
  v.copyright = p.Value("copyright");
  v.originalName = p.Value("original-filename");
  return ExitCode(popbox::PackCommand(options, std::cout, std::cerr));
}

int RunList(const Parsed& p) {
  const popbox::CodePage& page = CodePageOption(p);
  popbox::ListCommand(p.arguments[0], page, p.Values("exclude"), std::cout);
  return 0;
}

int RunVerify(const Parsed& p) {
  return ExitCode(popbox::VerifyCommand(p.arguments[0], CodePageOption(p), std::cout, std::cerr));
}

int RunExtract(const Parsed& p) {
  popbox::ExtractCommand(p.arguments[0], p.arguments[1], CodePageOption(p), std::cout);
  return 0;
}

int RunTry(const Parsed& p) {
  popbox::TryOptions options;
  options.setup = p.arguments[0];
  options.folderGiven = p.Has("folder");
  options.folder = p.Value("folder");
  options.programsLink = !p.Has("no-programs-link");
  options.desktopLink = !p.Has("no-desktop-link");
  options.cancel = p.Has("cancel");
  std::string answer = p.Value("answer", "ok");
  if (answer != "ok" && answer != "cancel") {
    throw UsageError("--answer takes ok or cancel, not " + answer);
  }
  options.answerOk = answer == "ok";
  options.storeName = p.Value("store-name", TRY_STORE_NAME);
  options.storeUrl = p.Value("store-url", TRY_STORE_URL);
  std::string timeout = p.Value("timeout", "120");
  if (timeout.size() > 5 || timeout.find_first_not_of("0123456789") != std::string::npos ||
      std::stoi(timeout) < 1) {
    throw UsageError("--timeout takes a number of seconds from 1 to 99999, not " + timeout);
  }
  options.timeout = static_cast<unsigned>(std::stoi(timeout));
  options.keep = p.Value("keep");
  options.json = p.Has("json");
  options.screenshots = p.Value("screenshots");
  return popbox::TryCommand(options);
}

constexpr Command COMMANDS[] = {
    {"init", 1, "init APPDIR [OPTIONS]", "write a Setup.ini for APPDIR to start from",
     "Writes APPDIR/Setup.ini to start from: the title from the folder's name, the\n"
     "only .exe as the program the shortcuts start, both shortcuts, comments that\n"
     "tell each key. It passes check. An existing Setup.ini is never overwritten.\n",
     RunInit},
    {"check", 1, "check APPDIR [OPTIONS]", "report what the setup would make of APPDIR",
     "Reads APPDIR/Setup.ini with the setup's own script code and walks APPDIR as\n"
     "pack would, opening every file. Errors are what would stop the setup or make\n"
     "pack refuse; warnings are what may go wrong on the user's machine. Exits with\n"
     "1 when there is an error. docs/packer.md tells every message.\n",
     RunCheck},
    {"pack", 1, "pack APPDIR -o OUT.exe [OPTIONS]", "check APPDIR, then write the setup OUT.exe",
     "Runs check on APPDIR and, when it finds no error, writes OUT.exe: the stub,\n"
     "then Setup.ini and every folder and file of APPDIR as records. Nothing is\n"
     "written when check finds an error; OUT.exe appears complete or not at all,\n"
     "and must lie outside APPDIR. The same folder always gives the same bytes.\n"
     "The version options give the setup version information, which Windows shows\n"
     "in the file's properties; without them it has none. Their texts must fit\n"
     "code page 1252.\n",
     RunPack},
    {"list", 1, "list SETUP.exe|APPDIR [OPTIONS]",
     "list the records of a setup, or those pack would write",
     "Prints type, unpacked size, stored size and name of each record of a setup,\n"
     "then the totals. Given a folder, prints the records pack would write and the\n"
     "files it leaves out.\n",
     RunList},
    {"verify", 1, "verify SETUP.exe [OPTIONS]", "check that a setup is sound",
     "Reads and decodes every record with the setup's reader and checks the layout:\n"
     "a stub of {PAYLOAD_OFFSET} bytes, Setup.ini first, each folder before its\n"
     "contents, safe names, the end record last with nothing but an Authenticode\n"
     "signature behind it, and Setup.ini itself. Prints the first problem and exits\n"
     "with 1, or exits with 0.\n",
     RunVerify},
    {"extract", 2, "extract SETUP.exe DIR [OPTIONS]",
     "write the payload into DIR as the setup would",
     "Checks the setup's layout as verify does, writing nothing when it finds a\n"
     "problem; then writes the payload into DIR with the setup's own extraction,\n"
     "as it would install it (Setup.ini ends before [PRIVATE]); names are\n"
     "converted from the code page to UTF-8. DIR must be new or empty. On failure\n"
     "prints the message the setup would show, with its caption.\n",
     RunExtract},
    {"try", 1, "try SETUP.exe [OPTIONS]", "run the setup under Wine as its user would, and report",
     "Runs the setup as its user would, under Wine in a throwaway prefix of its own\n"
     "(no display needed), accepting what it proposes, and reports what happened:\n"
     "the dialog, each message box and the answer given, the files installed\n"
     "(each compared with what popbox extract writes), the saved Setup.ini, the\n"
     "shortcuts, the program started with its working folder, and every other\n"
     "change. Exits with 0 when the setup installed and ended as expected (with\n"
     "--cancel: closed, writing nothing), 1 when it showed an error, hung or\n"
     "installed nothing. Needs Wine with 32-bit support; --screenshots also Xvfb\n"
     "and ImageMagick.\n",
     RunTry},
};

// The rows agree: every command an option names exists, and no two
// options share a name or a letter.
constexpr bool RowsAgree() {
  for (const Option& o : OPTIONS) {
    size_t named = 0;
    for (const Command& c : COMMANDS) named += ListHolds(o.commands, c.name);
    size_t words = 0;
    for (const char* p = o.commands; *p; ++p)
      words += *p != ' ' && (p == o.commands || p[-1] == ' ');
    if (named != words || words == 0) return false;
    for (const Option& other : OPTIONS) {
      if (&o != &other && (SameText(o.name, other.name) || (o.letter && o.letter == other.letter)))
        return false;
    }
  }
  return true;
}
static_assert(RowsAgree(), "an option names a command that does not exist, or repeats another");

// The synopsis without " [OPTIONS]".
std::string SynopsisHead(const Command& c) {
  std::string synopsis = c.synopsis;
  return synopsis.substr(0, synopsis.find(" [OPTIONS]"));
}

std::string Usage() {
  std::string text = "usage: popbox COMMAND [ARGUMENTS]\n\n";
  for (const Command& c : COMMANDS) {
    std::string head = "  " + SynopsisHead(c);
    head.resize(std::max<size_t>(head.size() + 1, 27), ' ');
    text += head + c.summary + "\n";
  }
  return text +
         "\npopbox help COMMAND tells more; popbox --version prints the version.\n"
         "Exit codes: 0 success, 1 the input cannot be used, 2 usage error.\n";
}

// "-o, --output OUT.exe", or "    --stub FILE" when there is no letter.
std::string OptionHead(const Option& o) {
  return (o.letter ? std::string("-") + o.letter + ", " : "    ") + "--" + o.name +
         (o.value ? std::string(" ") + o.value : "");
}

std::string CommandHelp(const Command& c) {
  std::string text = std::string("usage: popbox ") + c.synopsis + "\n\n" + Fill(c.text, false);
  const size_t column = 33;  // the longest option with its value, and two blanks
  bool first = true;
  for (const Option& o : OPTIONS) {
    if (!Takes(o, c.name)) continue;
    if (first) text += "\n";
    first = false;
    std::string line = "  " + OptionHead(o);
    line.resize(column, ' ');
    for (char ch : Fill(o.help, false))
      line += ch == '\n' ? "\n" + std::string(column, ' ') : std::string(1, ch);
    text += line + "\n";
  }
  return text;
}

// Text as roff takes it: backslashes and dashes escaped, lines joined, and
// no line starting with a control character.
std::string Roff(const std::string& text, bool joinLines = true) {
  std::string out;
  bool lineStart = true;
  for (char c : text) {
    if (lineStart && (c == '.' || c == '\'')) out += "\\&";
    lineStart = c == '\n' && !joinLines;
    out += c == '\\' ? "\\e" : c == '-' ? "\\-" : c == '\n' && joinLines ? " " : std::string(1, c);
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// The manual page, man(7) format, from the same rows as the help.
std::string Manual() {
  std::string m = ".TH POPBOX 1 \"\" \"popbox " POPBOX_VERSION "\" \"User Commands\"\n.nh\n.ad l\n";
  m += ".SH NAME\npopbox \\- build small self\\-extracting setups for Windows\n.SH SYNOPSIS\n.nf\n";
  for (const Command& c : COMMANDS) m += "\\fBpopbox\\fR " + Roff(c.synopsis) + "\n";
  m += "\\fBpopbox help\\fR [COMMAND]\n\\fBpopbox \\-V\\fR | \\fB\\-\\-version\\fR\n.fi\n";
  m += ".SH DESCRIPTION\n" +
       Roff(
           "popbox makes one small self-extracting setup program for 32-bit Windows out of a "
           "folder: the application plus a Setup.ini script. It checks the folder as the "
           "setup will read it, packs it behind a stub, and lists, verifies and extracts "
           "finished setups.") +
       "\n.PP\n" +
       Roff(
           "Options are written as git and tar take them: --output OUT.exe, --output=OUT.exe, "
           "-o OUT.exe, -oOUT.exe; -- ends the options. Each option may be given once");
  std::string repeats;
  for (const Option& o : OPTIONS) repeats += o.repeats ? std::string(", --") + o.name : "";
  m += repeats.empty() ? ".\n" : Roff(", except" + repeats.substr(1) + ".") + "\n";
  m += ".SH COMMANDS\n";
  for (const Command& c : COMMANDS) {
    m += ".TP\n\\fBpopbox " + Roff(c.name) + "\\fR" + Roff(c.synopsis + strlen(c.name)) + "\n" +
         Roff(Fill(c.text, true)) + "\n";
  }
  m += ".TP\n\\fBpopbox help\\fR [COMMAND]\n" +
       Roff("Prints the commands, or the options of COMMAND with their defaults.") + "\n";
  m += ".SH OPTIONS\n";
  for (const Option& o : OPTIONS) {
    std::string names;  // "check, pack"
    for (const char* p = o.commands; *p; ++p)
      names += *p == ' ' ? std::string(", ") : std::string(1, *p);
    m += ".TP\n" + (o.letter ? "\\fB\\-" + std::string(1, o.letter) + "\\fR, " : "") +
         "\\fB\\-\\-" + Roff(o.name) + "\\fR" + (o.value ? " \\fI" + Roff(o.value) + "\\fR" : "") +
         "\n" + Roff(Fill(o.help, true)) + "\n.br\n" + Roff("For: " + names + ".") + "\n";
  }
  m += ".SH EXIT STATUS\n.TP\n0\nSuccess.\n.TP\n" + std::to_string(popbox::EXIT_BAD_INPUT) + "\n" +
       Roff(
           "The input cannot be used: an error in the folder, a setup that is not sound, a "
           "file that cannot be read or written.") +
       "\n.TP\n" + std::to_string(popbox::EXIT_USAGE) + "\n" +
       Roff("A usage error: an unknown command or option, a missing argument or value.") + "\n";
  std::vector<std::string> stubs = popbox::StubPlaces(MANUAL_BINDIR);
  m += ".SH FILES\n.TP\n\\fI" + Roff(stubs[0]) + "\\fR\n.TQ\n\\fI" + Roff(stubs[1]) + "\\fR\n" +
       Roff(
           "The stub pack writes in front of the records without --stub, the first of the two "
           "that exists; BINDIR is the folder that holds popbox. The Debian package installs "
           "/usr/bin/popbox and /usr/share/popbox/popbox-stub.exe. popbox try takes its "
           "runner, try_setup.py, and its driver, setup-driver.exe, from the same two places.") +
       "\n.TP\n\\fIAPPDIR/.popboxignore\\fR\n" +
       Roff(
           "Files and folders check, pack and list leave out: one pattern a line, as for "
           "--exclude; empty lines and lines starting with # are passed over. It is never "
           "packed itself.") +
       "\n";
  m += ".SH EXAMPLES\n.nf\n" +
       Roff(
           "popbox init MyApp\npopbox check MyApp\n"
           "popbox pack MyApp -o MyAppSetup.exe --icon MyApp.ico --product-version 1.2\n"
           "popbox verify MyAppSetup.exe\npopbox extract MyAppSetup.exe try\n"
           "popbox try MyAppSetup.exe --screenshots shots\n",
           false) +
       ".fi\n";
  m += ".SH SEE ALSO\n" +
       Roff(
           "/usr/share/doc/popbox/README.md, and in /usr/share/doc/popbox/docs: quick-start.md "
           "(one folder, step by step), authors.md (what the users see), setup-ini.md (every "
           "key of Setup.ini), packer.md (every message of check), signing.md.") +
       "\n";
  return m;
}

// Options as git, tar and cmake take them: --name VALUE, --name=VALUE,
// -l VALUE, -l=VALUE, -lVALUE; "--" ends the options.
Parsed Parse(const Command& command, const std::vector<std::string>& args) {
  Parsed parsed;
  parsed.command = &command;
  bool optionsEnd = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
      if (arg.empty()) throw UsageError("an empty argument");
      parsed.arguments.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnd = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      parsed.help = true;
      continue;
    }
    bool isLong = arg[1] == '-';
    std::string key = isLong ? arg.substr(2, arg.find('=') - 2) : arg.substr(1, 1);
    std::string rest = isLong
                           ? (arg.find('=') == std::string::npos ? "" : arg.substr(arg.find('=')))
                           : arg.substr(2);
    const Option* option = nullptr;
    for (const Option& o : OPTIONS) {
      bool named = isLong ? key == o.name : o.letter != 0 && key[0] == o.letter;
      if (named && Takes(o, command.name)) option = &o;
    }
    if (!option) throw UsageError("unknown option " + arg.substr(0, arg.find('=')));
    std::string value;
    if (!option->value) {
      if (!rest.empty()) throw UsageError("--" + std::string(option->name) + " takes no value");
    } else if (!rest.empty()) {
      value = rest[0] == '=' ? rest.substr(1) : rest;
    } else if (i + 1 < args.size()) {
      value = args[++i];
    }
    if (option->value && value.empty()) throw UsageError(arg + " needs a value");
    std::vector<std::string>& values = parsed.options[option->name];
    if (!values.empty() && !option->repeats) {
      throw UsageError("--" + std::string(option->name) + " given twice");
    }
    values.push_back(value);
  }
  if (!parsed.help && parsed.arguments.size() != command.arguments) {
    throw UsageError(std::string(command.name) + " takes " +
                     (command.arguments == 1 ? "one argument" : "two arguments") + ", not " +
                     std::to_string(parsed.arguments.size()));
  }
  return parsed;
}

// The arguments in UTF-8. On Windows argv is in the ANSI code page and
// loses what it cannot hold, so they are taken from the wide command line.
std::vector<std::string> Arguments(int argc, char** argv) {
#ifdef _WIN32
  (void)argc;
  (void)argv;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; wide && i < count; ++i) {
    int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string arg(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, &arg[0], n, nullptr, nullptr);
    arg.resize(arg.size() - 1);
    args.push_back(arg);
  }
  LocalFree(wide);
  return args;
#else
  return std::vector<std::string>(argv + 1, argv + argc);
#endif
}

const Command* FindCommand(const std::string& name) {
  for (const Command& c : COMMANDS) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args = Arguments(argc, argv);
  if (args.empty()) {
    std::cerr << Usage();
    return popbox::EXIT_USAGE;
  }
  const std::string first = args[0];
  if (first == "-h" || first == "--help" || (first == "help" && args.size() == 1)) {
    std::cout << Usage();
    return 0;
  }
  if (first == "-V" || first == "--version") {
    std::cout << "popbox " << POPBOX_VERSION << "\n";
    return 0;
  }
  const Command* command = nullptr;
  try {
    if (first == "help") {
      if (args.size() > 2)
        throw UsageError("help takes one command, not " + std::to_string(args.size() - 1));
      if (args[1] == "--man") {  // the manual page, written by the build
        std::cout << Manual();
        return 0;
      }
      command = FindCommand(args[1]);
      if (!command) throw UsageError("no command " + args[1]);
      std::cout << CommandHelp(*command);
      return 0;
    }
    command = FindCommand(first);
    if (!command) throw UsageError("unknown command " + first);
    Parsed parsed = Parse(*command, std::vector<std::string>(args.begin() + 1, args.end()));
    if (parsed.help) {
      std::cout << CommandHelp(*command);
      return 0;
    }
    return command->run(parsed);
  } catch (const UsageError& e) {
    std::string which = command ? std::string(" ") + command->name : "";
    std::cerr << "popbox" << which << ": " << e.what() << " (see popbox help" << which << ")\n";
    return popbox::EXIT_USAGE;
  } catch (const popbox::PackerError& e) {
    std::cerr << e.what() << "\n";
    return popbox::EXIT_BAD_INPUT;
  } catch (const std::bad_alloc&) {
    std::cerr << "popbox: error: out of memory\n";
    return popbox::EXIT_BAD_INPUT;
  } catch (const std::exception& e) {
    std::cerr << "popbox: internal error: " << e.what() << "\n";
    return popbox::EXIT_BAD_INPUT;
  }
}
