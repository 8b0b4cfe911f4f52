// Setup.ini as the setup reads it: the record it comes from, the sections
// and keys it looks up, and the limits of what the dialog takes from the
// user and shows. The setup, `popbox check` and `popbox init` name them
// from here, so that a key the setup reads is the key the packer checks.
#pragma once

#include <stdint.h>

namespace popbox {

// The script's record: the first of every setup, found without regard to
// case.
constexpr const char* SETUP_SCRIPT_NAME = "Setup.ini";

// [Vendor]: an empty Name asks the user for the store's name and web
// address, which the installed copy then carries as Name and URL.
constexpr const char* SECTION_VENDOR = "Vendor";
constexpr const char* KEY_NAME = "Name";
constexpr const char* KEY_URL = "URL";

// [Install]: the dialog's texts, the proposed folder, the two shortcuts
// (...Selected: ticked at first) and the file they and the closing
// question start.
constexpr const char* SECTION_INSTALL = "Install";
constexpr const char* KEY_TITLE = "Title";
constexpr const char* KEY_APP_DIR_CAPTION = "AppDirCaption";
constexpr const char* KEY_DEFAULT_APP_DIR = "DefaultAppDir";
constexpr const char* KEY_START_PROGRAMS_LINK = "StartProgramsLink";
constexpr const char* KEY_START_PROGRAMS_LINK_SELECTED = "StartProgramsLinkSelected";
constexpr const char* KEY_DESKTOP_LINK = "DesktopLink";
constexpr const char* KEY_DESKTOP_LINK_SELECTED = "DesktopLinkSelected";
constexpr const char* KEY_LINK_TARGET = "LinkTarget";

// [Installed Message]: the closing question, read into this many bytes.
constexpr const char* SECTION_INSTALLED_MESSAGE = "Installed Message";
constexpr int32_t INSTALLED_MESSAGE_SIZE = 2048;

// The installed copy ends before [PRIVATE]: the author's notes stay out.
constexpr const char* SECTION_PRIVATE = "PRIVATE";

// The store layout's fields take at most this many characters.
constexpr uint32_t STORE_NAME_LENGTH = 30;
constexpr uint32_t WEB_ADDRESS_LENGTH = 69;

}  // namespace popbox
