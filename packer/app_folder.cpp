#include "packer/app_folder.h"

#include "base/text.h"
#include "install/install_paths.h"

namespace popbox {

std::string AsciiLower(std::string text) {
  for (char& c : text) c = static_cast<char>(FoldCase(static_cast<uint8_t>(c)));
  return text;
}

std::string CheckRecordNameLength(size_t length) {
  std::string said = "its record name is " + std::to_string(length) + " bytes, more than ";
  if (length > MAX_NAME_LENGTH) {
    return said + std::to_string(MAX_NAME_LENGTH) + "; the setup could not read it";
  }
  if (length <= MAX_RECORD_NAME_LENGTH) return "";
  size_t room = length + 1 >= MAX_NAME_LENGTH ? 0 : MAX_NAME_LENGTH - 1 - length;
  return said + std::to_string(MAX_RECORD_NAME_LENGTH) + ": it leaves " + std::to_string(room) +
         (room == 1 ? " character" : " characters") +
         " of 259 for the install folder, whose shortest (C:\\a) takes 4; the setup would refuse "
         "every folder";
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
  if (IsDeviceName(element.data(), element.size())) return "its name is a Windows device name";
  return "";
}

}  // namespace popbox
