// popbox: the host tool that builds and inspects setups. This file parses
// the command line and dispatches; each command lives in its own file.
#include <string.h>

#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "packer/commands.h"
#include "packer/packer_error.h"

namespace {

const char USAGE[] =
    "usage: popbox pack APPDIR -o OUT.exe [--stub FILE]\n"
    "       popbox list SETUP.exe\n"
    "\n"
    "pack  writes the stub and every file and folder of APPDIR (which must\n"
    "      hold Setup.ini) into OUT.exe; the stub defaults to popbox-stub.exe\n"
    "      beside popbox\n"
    "list  prints type, unpacked size, packed size and name of each record\n";

struct UsageError : std::runtime_error {
  explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

popbox::PackOptions ParsePack(const std::vector<std::string>& args) {
  popbox::PackOptions options;
  bool haveFolder = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-o" || arg == "--stub") {
      if (i + 1 == args.size()) throw UsageError(arg + " needs a file name");
      std::string& slot = arg == "-o" ? options.output : options.stub;
      if (!slot.empty()) throw UsageError(arg + " given twice");
      slot = args[++i];
      if (slot.empty()) throw UsageError(arg + " needs a file name");
    } else if (!arg.empty() && arg[0] == '-') {
      throw UsageError("unknown option " + arg);
    } else if (haveFolder) {
      throw UsageError("pack takes one application folder");
    } else {
      options.appFolder = arg;
      haveFolder = true;
    }
  }
  if (!haveFolder || options.appFolder.empty())
    throw UsageError("pack needs an application folder");
  if (options.output.empty()) throw UsageError("pack needs -o OUT.exe");
  return options;
}

std::string ParseList(const std::vector<std::string>& args) {
  if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
    throw UsageError("list takes one setup file");
  }
  return args[0];
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "-h" || args[0] == "--help" || args[0] == "help")) {
    std::cout << USAGE;
    return 0;
  }
  try {
    if (args.empty()) throw UsageError("no command");
    std::string command = args[0];
    args.erase(args.begin());
    if (command == "pack") {
      popbox::PackCommand(ParsePack(args), std::cout);
    } else if (command == "list") {
      popbox::ListCommand(ParseList(args), std::cout);
    } else {
      throw UsageError("unknown command " + command);
    }
  } catch (const UsageError& e) {
    std::cerr << "popbox: " << e.what() << "\n" << USAGE;
    return popbox::EXIT_USAGE;
  } catch (const popbox::PackerError& e) {
    std::cerr << "popbox: " << e.what() << "\n";
    return popbox::EXIT_BAD_INPUT;
  } catch (const std::bad_alloc&) {
    std::cerr << "popbox: out of memory\n";
    return popbox::EXIT_BAD_INPUT;
  } catch (const std::exception& e) {
    std::cerr << "popbox: internal error: " << e.what() << "\n";
    return popbox::EXIT_BAD_INPUT;
  }
  return 0;
}
