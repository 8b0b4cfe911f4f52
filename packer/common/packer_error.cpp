#include "packer/common/packer_error.h"

#include <string.h>

namespace popbox {

std::string DescribeFailure(const std::string& path, const std::string& what, int errorNumber) {
  std::string message = path + ": error: " + what;
  if (errorNumber != 0) message += std::string(" (") + strerror(errorNumber) + ")";
  return message;
}

std::string ErrnoText(int errorNumber) { return strerror(errorNumber); }

}  // namespace popbox
