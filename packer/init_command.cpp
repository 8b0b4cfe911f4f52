// popbox init: a Setup.ini to start from, for a folder that has none. It
// passes check as it is; the comments at its top say what to change.
#include <algorithm>

#include "base/text.h"
#include "packer/app_folder.h"
#include "packer/commands.h"
#include "packer/common/codepage.h"
#include "packer/common/diagnostics.h"
#include "packer/common/packer_error.h"
#include "packer/exclusions.h"
#include "packer/host/host_file.h"
#include "payload/payload_format.h"
#include "script/setup_ini.h"

namespace popbox {

namespace {

// The program the shortcuts start: the only .exe, or among several the
// one named like the folder, else the first; without one, the first file.
std::string ChooseTarget(const std::vector<AppRecord>& records, const std::string& title,
                         std::string* note) {
  std::vector<std::string> programs, files;
  for (const AppRecord& r : records) {
    if (r.type != BLOB_FILE || EqualTextNoCase(r.recordName.c_str(), SETUP_SCRIPT_NAME)) continue;
    files.push_back(r.recordName);
    if (AsciiLower(r.recordName).size() > 4 &&
        AsciiLower(r.recordName).compare(r.recordName.size() - 4, 4, ".exe") == 0) {
      programs.push_back(r.recordName);
    }
  }
  if (programs.size() == 1) return programs[0];
  if (programs.empty()) {
    if (files.empty()) return "";
    *note = "; There is no program (.exe) in the folder: LinkTarget names the first file.\r\n";
    return files[0];
  }
  *note = "; Several programs are in the folder; pick the one to start:";
  for (const std::string& p : programs) *note += " " + p;
  *note += "\r\n";
  for (const std::string& p : programs) {
    if (AsciiLower(p) == AsciiLower(title + ".exe")) return p;
  }
  return programs[0];
}

}  // namespace

void InitCommand(const std::string& appFolder, const CodePage& page, std::ostream& report) {
  HostStat st = StatHost(appFolder, true);
  if (st.kind == HostKind::Missing) {
    throw PackerError(DescribeFailure(appFolder, "cannot read folder", st.error));
  }
  if (st.kind != HostKind::Folder)
    throw PackerError(DescribeFailure(appFolder, "is not a folder", 0));
  Diagnostics found;
  std::vector<AppRecord> records =
      ListAppFolder(appFolder, page, Exclusions(appFolder, {}), &found).records;
  for (const AppRecord& r : records) {
    if (EqualTextNoCase(r.recordName.c_str(), SETUP_SCRIPT_NAME)) {
      throw PackerError(
          DescribeFailure(r.hostPath, "exists already; init writes a new one only", 0));
    }
  }
  std::string folder = appFolder.substr(0, appFolder.find_last_not_of('/') + 1);
  std::string name = RealHostPath(folder);
  name = name.substr(name.find_last_of("/\\") + 1);
  std::string title, problem;
  if (!Utf8ToCodePage(page, name, &title, &problem) || title.empty()) title = "MyApp";
  std::string note;
  std::string target = ChooseTarget(records, title, &note);
  if (target.empty()) {
    throw PackerError(DescribeFailure(appFolder, "holds no file to install", 0));
  }
  std::string shortcut = target.substr(target.rfind('\\') + 1);
  shortcut = shortcut.substr(0, shortcut.rfind('.')) + ".lnk";
  auto section = [](const char* name) { return std::string("\r\n[") + name + "]\r\n"; };
  auto key = [](const char* name, const std::string& value) {
    return std::string(name) + "=" + value + "\r\n";
  };
  std::string text =
      "; Setup.ini for the popbox setup of " + title +
      ". popbox check tells what the setup\r\n"
      "; makes of it; /usr/share/doc/popbox/docs/setup-ini.md tells every key.\r\n"
      "; Keys and sections are found without regard to case. Lines before the first\r\n"
      "; section, and lines that begin with ';' where keys are read, are passed over.\r\n"
      "; Vendor Name: your company. Left empty, the setup asks the user for the name\r\n"
      "; and web address of the online store the software came from.\r\n"
      "; Install: the dialog's title and text, the proposed folder, the shortcuts\r\n"
      "; (Selected: ticked at first), and the program they start (LinkTarget, in\r\n"
      "; the install folder). Installed Message: the closing question; OK starts\r\n"
      "; the program. Notes in a last section [PRIVATE] stay out of the installed copy.\r\n" +
      note + section(SECTION_VENDOR) + key(KEY_NAME, title) + key(KEY_URL, "") +
      section(SECTION_INSTALL) + key(KEY_TITLE, title + " Setup") +
      key(KEY_APP_DIR_CAPTION, "Install " + title + " to:") +
      key(KEY_DEFAULT_APP_DIR, "<Program Files>\\" + title) +
      key(KEY_START_PROGRAMS_LINK, "<Programs Menu>\\" + shortcut) +
      key(KEY_START_PROGRAMS_LINK_SELECTED, "yes") +
      key(KEY_DESKTOP_LINK, "<Desktop>\\" + shortcut) + key(KEY_DESKTOP_LINK_SELECTED, "yes") +
      key(KEY_LINK_TARGET, target) + section(SECTION_INSTALLED_MESSAGE) + title +
      " is installed. Start it now?\r\n";
  std::string path = folder + "/" + SETUP_SCRIPT_NAME;
  WriteNewHostFile(path, text);
  report << path << ": written; popbox check " << appFolder << " tells what to change\n";
}

}  // namespace popbox
