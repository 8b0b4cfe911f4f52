#include "packer/packer_error.h"

#include <string.h>

namespace popbox {

std::string DescribeFailure(const std::string& path, const std::string& what, int errorNumber) {
  std::string message = path + ": " + what;
  if (errorNumber != 0) message += std::string(" (") + strerror(errorNumber) + ")";
  return message;
}

}  // namespace popbox
