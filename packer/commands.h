// The packer's commands. Each one throws PackerError (packer_error.h) for
// input it cannot use; main.cpp turns that into a message and exit code.
#pragma once

#include <ostream>
#include <string>

namespace popbox {

struct PackOptions {
  std::string appFolder;
  std::string output;
  std::string stub;  // empty: DefaultStubPath()
};

// popbox pack: the stub image, then the application folder as records.
// The output appears complete or not at all. Prints one summary line.
void PackCommand(const PackOptions& options, std::ostream& report);

// popbox list: one line per record, read with the stub's own reader.
void ListCommand(const std::string& setupPath, std::ostream& out);

// popbox-stub.exe in the folder of the running popbox binary.
std::string DefaultStubPath();

}  // namespace popbox
