// popbox: the tool that builds setups and reads them back. This file parses
// the command line and dispatches; each command lives in its own file.
// Exit codes: 0 success, 1 a failure of the input, 2 a usage error.
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "packer/codepage.h"
#include "packer/commands.h"
#include "packer/packer_error.h"
#include "payload/payload_format.h"

#ifndef POPBOX_VERSION
#define POPBOX_VERSION "unknown"
#endif

namespace {

const char USAGE[] =
    "usage: popbox COMMAND [ARGUMENTS]\n"
    "\n"
    "  init APPDIR              write a Setup.ini for APPDIR to start from\n"
    "  check APPDIR             report what the setup would make of APPDIR\n"
    "  pack APPDIR -o OUT.exe   check APPDIR, then write the setup OUT.exe\n"
    "  list SETUP.exe|APPDIR    list the records of a setup, or those pack would write\n"
    "  verify SETUP.exe         check that a setup is sound\n"
    "  extract SETUP.exe DIR    write the payload into DIR as the setup would\n"
    "\n"
    "popbox help COMMAND tells more; popbox --version prints the version.\n"
    "Exit codes: 0 success, 1 the input cannot be used, 2 usage error.\n";

struct Option {
  const char* name;   // --name
  char letter;        // -l, or 0
  const char* value;  // what the value is called in the help, or null for a flag
  bool repeatable;
};

// Every option; a command takes the ones its list names.
const Option OPTIONS[] = {
    {"output", 'o', "OUT.exe", false},
    {"stub", 0, "FILE", false},
    {"store", 0, nullptr, false},
    {"quiet", 'q', nullptr, false},
    {"jobs", 'j', "N", false},
    {"codepage", 0, "N", false},
    {"exclude", 0, "PATTERN", true},
    {"icon", 0, "FILE.ico", false},
    {"product-version", 0, "A.B.C.D", false},
    {"file-version", 0, "A.B.C.D", false},
    {"product-name", 0, "TEXT", false},
    {"company", 0, "TEXT", false},
    {"description", 0, "TEXT", false},
    {"copyright", 0, "TEXT", false},
    {"original-filename", 0, "NAME", false},
};

struct Command {
  const char* name;
  size_t arguments;
  std::vector<std::string> options;
  const char* synopsis;
  const char* text;
};

const Command COMMANDS[] = {
    {"init",
     1,
     {"codepage"},
     "init APPDIR",
     "Writes APPDIR/Setup.ini to start from: the title from the folder's name, the\n"
     "only .exe as the program the shortcuts start, both shortcuts, comments that\n"
     "tell each key. It passes check. An existing Setup.ini is never overwritten.\n"},
    {"check",
     1,
     {"quiet", "codepage", "exclude"},
     "check APPDIR [OPTIONS]",
     "Reads APPDIR/Setup.ini with the setup's own script code and walks APPDIR as\n"
     "pack would, opening every file. Errors are what would stop the setup or make\n"
     "pack refuse; warnings are what may go wrong on the user's machine. Exits with\n"
     "1 when there is an error. docs/packer.md tells every message.\n"},
    {"pack",
     1,
     {"output", "stub", "store", "quiet", "jobs", "codepage", "exclude", "icon", "product-version",
      "file-version", "product-name", "company", "description", "copyright", "original-filename"},
     "pack APPDIR -o OUT.exe [OPTIONS]",
     "Runs check on APPDIR and, when it finds no error, writes OUT.exe: the stub,\n"
     "then Setup.ini and every folder and file of APPDIR as records. Nothing is\n"
     "written when check finds an error; OUT.exe appears complete or not at all,\n"
     "and must lie outside APPDIR. The same folder always gives the same bytes.\n"
     "The version options give the setup version information, which Windows shows\n"
     "in the file's properties; without them it has none. Their texts must fit\n"
     "code page 1252.\n"},
    {"list",
     1,
     {"codepage", "exclude"},
     "list SETUP.exe|APPDIR [OPTIONS]",
     "Prints type, unpacked size, stored size and name of each record of a setup,\n"
     "then the totals. Given a folder, prints the records pack would write and the\n"
     "files it leaves out.\n"},
    {"verify",
     1,
     {"codepage"},
     "verify SETUP.exe [OPTIONS]",
     "Reads and decodes every record with the setup's reader and checks the layout:\n"
     "a stub of PAYLOAD_OFFSET bytes, Setup.ini first, each folder before its\n"
     "contents, safe names, the end record last with nothing but an Authenticode\n"
     "signature behind it, and Setup.ini itself. Prints the first problem and exits\n"
     "with 1, or exits with 0.\n"},
    {"extract",
     2,
     {"codepage"},
     "extract SETUP.exe DIR [OPTIONS]",
     "Checks the setup's layout as verify does, writing nothing when it finds a\n"
     "problem; then writes the payload into DIR with the setup's own extraction,\n"
     "as it would install it (Setup.ini ends before [PRIVATE]); names are\n"
     "converted from the code page to UTF-8. DIR must be new or empty. On failure\n"
     "prints the message the setup would show, with its caption.\n"},
};

unsigned DefaultJobs() {
  unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : cores > 16 ? 16 : cores;
}

// The help line of an option, with its default.
std::string OptionHelp(const std::string& name) {
  const std::map<std::string, std::string> help = {
      {"output", "the setup to write"},
      {"stub", "the stub (default: the first that exists of\n" + popbox::StubPlaces()[0] + "\n" +
                   popbox::StubPlaces()[1] + ")"},
      {"store", "store every file as it is, uncompressed"},
      {"quiet", "errors only: no warnings, progress or summary"},
      {"jobs", "how many processors compress (default: " + std::to_string(DefaultJobs()) +
                   ");\nthe output does not depend on it"},
      {"codepage",
       "the Windows code page of record names: 1252\n(Western, the default), 1250 (Central\n"
       "European) or 1251 (Cyrillic)"},
      {"icon",
       "the setup's icon, for the file and its dialog;\nsizes that do not fit the stub's room "
       "are\nleft out with a warning, 16, 32 and 48 first"},
      {"product-version", "(default: the file version)"},
      {"file-version", "(default: the product version)"},
      {"product-name", "(default: Setup.ini [Install] Title)"},
      {"company", "(default: none)"},
      {"description", "(default: the product name, with \" Setup\"\nadded unless it ends so)"},
      {"copyright", "(default: none)"},
      {"original-filename", "(default: the name of OUT.exe)"},
      {"exclude",
       "leave out files and folders matching PATTERN\n(a glob; may be given again); "
       "APPDIR/.popboxignore\nadds one pattern a line"},
  };
  const size_t column = 33;  // the longest option with its value, and two blanks
  for (const Option& o : OPTIONS) {
    if (name != o.name) continue;
    std::string line = std::string("  ") +
                       (o.letter ? std::string("-") + o.letter + ", " : "    ") + "--" + o.name +
                       (o.value ? std::string(" ") + o.value : "");
    line.resize(column, ' ');
    for (char c : help.at(name))
      line += c == '\n' ? "\n" + std::string(column, ' ') : std::string(1, c);
    return line + "\n";
  }
  return "";
}

std::string CommandHelp(const Command& c) {
  std::string text = std::string("usage: popbox ") + c.synopsis + "\n\n" + c.text;
  size_t at = text.find("PAYLOAD_OFFSET");
  if (at != std::string::npos) {
    text.replace(at, 14, std::to_string(popbox::PAYLOAD_OFFSET));
  }
  if (!c.options.empty()) text += "\n";
  for (const std::string& name : c.options) text += OptionHelp(name);
  return text;
}

struct UsageError : std::runtime_error {
  explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

struct Parsed {
  std::vector<std::string> arguments;
  std::map<std::string, std::vector<std::string>> options;  // flags get an empty value
  bool help = false;

  bool Has(const char* name) const { return options.count(name) != 0; }
  std::string Value(const char* name, const std::string& otherwise = "") const {
    auto found = options.find(name);
    return found == options.end() ? otherwise : found->second.front();
  }
};

// Options as git, tar and cmake take them: --name VALUE, --name=VALUE,
// -l VALUE, -l=VALUE, -lVALUE; "--" ends the options.
Parsed Parse(const Command& command, const std::vector<std::string>& args) {
  Parsed parsed;
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
      for (const std::string& allowed : command.options) {
        if (named && allowed == o.name) option = &o;
      }
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
    if (!values.empty() && !option->repeatable) {
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

// Runs one command; returns the exit code.
int Run(const Command& command, const Parsed& parsed) {
  const popbox::CodePage& page = CodePageOption(parsed);
  const std::vector<std::string>& a = parsed.arguments;
  const std::string name = command.name;
  const bool quiet = parsed.Has("quiet");
  std::vector<std::string> excludes;
  if (parsed.Has("exclude")) excludes = parsed.options.at("exclude");
  bool ok = true;
  if (name == "init") {
    popbox::InitCommand(a[0], page, std::cout);
  } else if (name == "check") {
    ok = popbox::CheckCommand(a[0], page, excludes, quiet, std::cout, std::cerr);
  } else if (name == "pack") {
    popbox::PackOptions options;
    options.appFolder = a[0];
    options.output = parsed.Value("output");
    if (options.output.empty()) throw UsageError("pack needs -o OUT.exe");
    options.stub = parsed.Value("stub");
    options.store = parsed.Has("store");
    options.quiet = quiet;
    options.jobs = JobsOption(parsed);
    options.page = &page;
    options.excludes = excludes;
    options.icon = parsed.Value("icon");
    popbox::VersionOptions& v = options.version;
    v.productVersion = parsed.Value("product-version");
    v.fileVersion = parsed.Value("file-version");
    v.productName = parsed.Value("product-name");
    v.company = parsed.Value("company");
    v.description = parsed.Value("description");
    v.copyright = parsed.Value("copyright");
    v.originalName = parsed.Value("original-filename");
    ok = popbox::PackCommand(options, std::cout, std::cerr);
  } else if (name == "list") {
    popbox::ListCommand(a[0], page, excludes, std::cout);
  } else if (name == "verify") {
    ok = popbox::VerifyCommand(a[0], page, std::cout, std::cerr);
  } else {
    popbox::ExtractCommand(a[0], a[1], page, std::cout);
  }
  return ok ? 0 : popbox::EXIT_BAD_INPUT;
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
    std::cerr << USAGE;
    return popbox::EXIT_USAGE;
  }
  const std::string first = args[0];
  if (first == "-h" || first == "--help" || (first == "help" && args.size() == 1)) {
    std::cout << USAGE;
    return 0;
  }
  if (first == "-V" || first == "--version") {
    std::cout << "popbox " << POPBOX_VERSION << "\n";
    return 0;
  }
  const Command* command = nullptr;
  try {
    if (first == "help") {
      command = FindCommand(args[1]);
      if (args.size() > 2)
        throw UsageError("help takes one command, not " + std::to_string(args.size() - 1));
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
    return Run(*command, parsed);
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
