// How the packer's commands fail: one exception type whose message is the
// whole one-line report, "FILE: error: what is wrong with it", the form
// compilers use. main.cpp prints it and exits with EXIT_BAD_INPUT.
#pragma once

#include <stdexcept>
#include <string>

namespace popbox {

constexpr int EXIT_BAD_INPUT = 1;  // a file, folder or setup that cannot be used
constexpr int EXIT_USAGE = 2;      // the command line itself is wrong

class PackerError : public std::runtime_error {
 public:
  explicit PackerError(const std::string& message) : std::runtime_error(message) {}
};

// A fault found inside a file that the caller names: the message is the
// bare description ("image 2 runs past the end of the file"), and the
// caller puts the file in front (BrandStub, stub_branding.h).
class BrandError : public PackerError {
 public:
  explicit BrandError(const std::string& message) : PackerError(message) {}
};

// "PATH: error: what" plus " (reason)" from errno when it is not 0.
std::string DescribeFailure(const std::string& path, const std::string& what, int errorNumber);

// strerror as a string.
std::string ErrnoText(int errorNumber);

}  // namespace popbox
