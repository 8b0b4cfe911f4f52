// popbox: the host tool that builds setups and reads them back. This file parses
// the command line and dispatches; each command lives in its own file.
// Exit codes: 0 success, 1 a failure of the input, 2 a usage error.
#include <iostream>
#include <map>
#include <set>
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

#ifndef POPBOX_VERSION
#define POPBOX_VERSION "unknown"
#endif

namespace {

const char USAGE[] =
    "usage: popbox COMMAND ARGUMENTS\n"
    "\n"
    "  pack APPDIR -o OUT.exe   check APPDIR, then write the setup OUT.exe\n"
    "  check APPDIR             report what the setup would make of APPDIR\n"
    "  verify SETUP.exe         check that the setup is sound\n"
    "  list SETUP.exe           list the records of a setup\n"
    "  extract SETUP.exe DIR    install the payload into DIR as the setup would\n"
    "\n"
    "popbox COMMAND --help tells more; popbox --version prints the version.\n"
    "Exit codes: 0 success, 1 the input cannot be used, 2 usage error.\n";

const char CODEPAGE_HELP[] =
    "  --codepage N  the Windows code page of record names: 1252 (Western,\n"
    "                the default), 1250 (Central European) or 1251 (Cyrillic)\n";

struct Command {
  const char* name;
  size_t positionals;
  std::set<std::string> flags;      // options without a value
  std::set<std::string> withValue;  // options that take one
  const char* help;
};

const Command COMMANDS[] = {
    {"pack",
     1,
     {"--store", "--quiet"},
     {"-o", "--stub", "--jobs", "--codepage"},
     "usage: popbox pack APPDIR -o OUT.exe [--stub FILE] [--store] [--quiet] [--jobs N]\n"
     "                   [--codepage N]\n"
     "\n"
     "Runs check on APPDIR and, when it finds no error, writes OUT.exe: the stub,\n"
     "then Setup.ini and every folder and file of APPDIR as records. Nothing is\n"
     "written when check finds an error; OUT.exe appears complete or not at all.\n"
     "The same folder always gives the same bytes.\n"
     "\n"
     "  -o OUT.exe    the setup to write\n"
     "  --stub FILE   the stub (default: popbox-stub.exe beside popbox, else\n"
     "                ../share/popbox/popbox-stub.exe from popbox's folder)\n"
     "  --store       store every file uncompressed\n"
     "  --quiet       no warnings, progress or summary; errors only\n"
     "  --jobs N      compress N files at a time (default: the number of\n"
     "                processors); the output does not depend on it\n"},
    {"check",
     1,
     {"--quiet"},
     {"--codepage"},
     "usage: popbox check APPDIR [--quiet] [--codepage N]\n"
     "\n"
     "Reads APPDIR/Setup.ini with the setup's own script code and walks APPDIR.\n"
     "Errors are what would stop the setup or make pack refuse; warnings are\n"
     "what may go wrong on the user's machine. Exits with 1 when there is an\n"
     "error. See docs/packer.md for every message.\n"
     "\n"
     "  --quiet       errors only, and no summary\n"},
    {"verify",
     1,
     {},
     {"--codepage"},
     "usage: popbox verify SETUP.exe [--codepage N]\n"
     "\n"
     "Reads and decodes every record with the stub's reader and checks the\n"
     "layout: a 40960-byte Windows program as stub, Setup.ini first, each\n"
     "folder before its contents, safe names, the end record last with nothing\n"
     "but an optional Authenticode signature behind it, and Setup.ini itself.\n"
     "Prints the first problem and exits with 1, or exits with 0.\n"},
    {"list",
     1,
     {},
     {"--codepage"},
     "usage: popbox list SETUP.exe [--codepage N]\n"
     "\n"
     "Prints type, unpacked size, stored size and name of each record, then\n"
     "the totals and the stored size as a share of the unpacked size.\n"},
    {"extract",
     2,
     {},
     {"--codepage"},
     "usage: popbox extract SETUP.exe DIR [--codepage N]\n"
     "\n"
     "Writes the payload into DIR with the setup's own extraction, as it would\n"
     "install it (Setup.ini ends before [PRIVATE]); names are converted from\n"
     "the code page to UTF-8. DIR must not exist yet, or be empty. On failure\n"
     "prints the message the setup would show, with its caption.\n"},
};

struct UsageError : std::runtime_error {
  explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

struct Parsed {
  std::vector<std::string> positionals;
  std::set<std::string> flags;
  std::map<std::string, std::string> values;
  bool help = false;
};

Parsed Parse(const Command& command, const std::vector<std::string>& args) {
  Parsed parsed;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      parsed.help = true;
    } else if (command.flags.count(arg)) {
      parsed.flags.insert(arg);
    } else if (command.withValue.count(arg)) {
      if (i + 1 == args.size() || args[i + 1].empty()) throw UsageError(arg + " needs a value");
      if (!parsed.values.emplace(arg, args[++i]).second) throw UsageError(arg + " given twice");
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw UsageError("unknown option " + arg);
    } else if (arg.empty()) {
      throw UsageError("an empty argument");
    } else {
      parsed.positionals.push_back(arg);
    }
  }
  if (!parsed.help && parsed.positionals.size() != command.positionals) {
    throw UsageError(std::string(command.name) + " takes " +
                     (command.positionals == 1 ? "one argument" : "two arguments") + ", not " +
                     std::to_string(parsed.positionals.size()));
  }
  return parsed;
}

const popbox::CodePage& CodePageOption(const Parsed& parsed) {
  auto found = parsed.values.find("--codepage");
  if (found == parsed.values.end()) return *popbox::FindCodePage(1252);
  const popbox::CodePage* page = nullptr;
  if (found->second.find_first_not_of("0123456789") == std::string::npos &&
      found->second.size() <= 5) {
    page = popbox::FindCodePage(std::stoi(found->second));
  }
  if (!page) throw UsageError("--codepage takes 1250, 1251 or 1252, not " + found->second);
  return *page;
}

unsigned JobsOption(const Parsed& parsed) {
  auto found = parsed.values.find("--jobs");
  if (found == parsed.values.end()) {
    unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores > 16 ? 16 : cores;
  }
  const std::string& text = found->second;
  if (text.empty() || text.size() > 3 ||
      text.find_first_not_of("0123456789") != std::string::npos || std::stoi(text) < 1 ||
      std::stoi(text) > 256) {
    throw UsageError("--jobs takes a number from 1 to 256, not " + text);
  }
  return static_cast<unsigned>(std::stoi(text));
}

// Runs one command; returns the exit code.
int Run(const Command& command, const Parsed& parsed) {
  const popbox::CodePage& page = CodePageOption(parsed);
  const std::vector<std::string>& p = parsed.positionals;
  std::string name = command.name;
  if (name == "pack") {
    popbox::PackOptions options;
    options.appFolder = p[0];
    auto output = parsed.values.find("-o");
    if (output == parsed.values.end()) throw UsageError("pack needs -o OUT.exe");
    options.output = output->second;
    auto stub = parsed.values.find("--stub");
    if (stub != parsed.values.end()) options.stub = stub->second;
    options.store = parsed.flags.count("--store") != 0;
    options.quiet = parsed.flags.count("--quiet") != 0;
    options.jobs = JobsOption(parsed);
    options.page = &page;
    return popbox::PackCommand(options, std::cout, std::cerr) ? 0 : popbox::EXIT_BAD_INPUT;
  }
  if (name == "check") {
    bool quiet = parsed.flags.count("--quiet") != 0;
    return popbox::CheckCommand(p[0], page, quiet, std::cout, std::cerr) ? 0
                                                                         : popbox::EXIT_BAD_INPUT;
  }
  if (name == "verify") {
    return popbox::VerifyCommand(p[0], page, std::cout, std::cerr) ? 0 : popbox::EXIT_BAD_INPUT;
  }
  if (name == "list") {
    popbox::ListCommand(p[0], page, std::cout);
    return 0;
  }
  popbox::ExtractCommand(p[0], p[1], page, std::cout);
  return 0;
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

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args = Arguments(argc, argv);
  if (!args.empty() && (args[0] == "-h" || args[0] == "--help" || args[0] == "help")) {
    std::cout << USAGE;
    return 0;
  }
  if (!args.empty() && args[0] == "--version") {
    std::cout << "popbox " << POPBOX_VERSION << "\n";
    return 0;
  }
  const Command* command = nullptr;
  try {
    if (args.empty()) throw UsageError("no command");
    for (const Command& c : COMMANDS) {
      if (args[0] == c.name) command = &c;
    }
    if (!command) throw UsageError("unknown command " + args[0]);
    args.erase(args.begin());
    Parsed parsed = Parse(*command, args);
    if (parsed.help) {
      std::cout << command->help;
      if (command->withValue.count("--codepage")) std::cout << CODEPAGE_HELP;
      return 0;
    }
    return Run(*command, parsed);
  } catch (const UsageError& e) {
    std::cerr << "popbox" << (command ? std::string(" ") + command->name : "") << ": " << e.what()
              << " (see popbox " << (command ? std::string(command->name) + " " : "")
              << "--help)\n";
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
