#include "packer/app_folder.h"

#include <algorithm>

#include "script/text.h"

namespace popbox {

const char SETUP_SCRIPT_NAME[] = "Setup.ini";

std::string AsciiLower(std::string text) {
  for (char& c : text) c = static_cast<char>(FoldCase(static_cast<uint8_t>(c)));
  return text;
}

std::string CheckNameElement(const std::string& element) {
  if (element.find('\\') != std::string::npos) {
    return "its name contains a backslash, which would split it into folders";
  }
  for (unsigned char c : element) {
    if (c < 32 || std::string("<>:\"/|?*").find(static_cast<char>(c)) != std::string::npos) {
      return "its name contains a character that Windows does not allow in file names";
    }
  }
  if (!element.empty() && (element.back() == '.' || element.back() == ' ')) {
    return "its name ends in a dot or space, which Windows drops";
  }
  std::string base = AsciiLower(element.substr(0, element.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static const char* const devices[] = {"con", "prn", "aux", "nul"};
  bool device = std::find_if(std::begin(devices), std::end(devices),
                             [&](const char* d) { return base == d; }) != std::end(devices);
  if (base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
      base[3] >= '1' && base[3] <= '9') {
    device = true;
  }
  if (device) return "its name is a Windows device name";
  return "";
}

}  // namespace popbox
