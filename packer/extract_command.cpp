// popbox extract: the payload written into a folder on the host by the
// stub's own code: theScript loaded from the payload, then ExtractPayload
// into the folder, so the result is what the setup would install (with
// the trimmed Setup.ini). The host backend of os_api.h turns the
// backslashes of record names into slashes. Record names are bytes in the
// code page; afterwards they are renamed to UTF-8.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/error_slot.h"
#include "app/os_api.h"
#include "app/the_script.h"
#include "install/extract.h"
#include "packer/app_folder.h"
#include "packer/codepage.h"
#include "packer/commands.h"
#include "packer/host_file.h"
#include "packer/packer_error.h"
#include "packer/setup_reader.h"
#include "payload/payload_format.h"

namespace popbox {

namespace {

bool HasHighBytes(const std::string& text) {
  for (char c : text) {
    if (c & 0x80) return true;
  }
  return false;
}

// Renames every name below `folder` from code-page bytes to UTF-8. The
// conversion never maps two names to one, but a converted name may equal
// another name's bytes before that one is converted; so each folder's
// names move to free temporary names first and to their own names after.
void NamesToUtf8(const std::string& folder, const CodePage& page) {
  std::vector<std::string> names;
  int error = 0;
  if (!ListHostFolder(folder, &names, &error)) {
    throw PackerError(DescribeFailure(folder, "cannot read folder", error));
  }
  std::vector<std::pair<std::string, std::string>> moves;  // temporary, final
  for (const std::string& name : names) {
    if (!HasHighBytes(name)) continue;
    std::string temporary;
    for (int n = 0;; ++n) {
      temporary = ".popbox-rename-" + std::to_string(n);
      if (StatHost(folder + "/" + temporary, false).kind == HostKind::Missing) break;
    }
    if (rename((folder + "/" + name).c_str(), (folder + "/" + temporary).c_str()) != 0) {
      throw PackerError(DescribeFailure(folder + "/" + name, "cannot rename", errno));
    }
    moves.emplace_back(temporary, CodePageToUtf8(page, name));
  }
  for (const auto& move : moves) {
    std::string target = folder + "/" + move.second;
    if (StatHost(target, false).kind != HostKind::Missing ||
        rename((folder + "/" + move.first).c_str(), target.c_str()) != 0) {
      throw PackerError(DescribeFailure(target, "cannot rename into place", errno));
    }
  }
  if (!ListHostFolder(folder, &names, &error)) {
    throw PackerError(DescribeFailure(folder, "cannot read folder", error));
  }
  for (const std::string& name : names) {
    std::string path = folder + "/" + name;
    if (StatHost(path, false).kind == HostKind::Folder) NamesToUtf8(path, page);
  }
}

// Names written to the folder match existing ones as Windows matches them:
// without regard to case, in the code page of the names.
const CodePage* namePage = nullptr;
bool SameNameInPage(const char* a, const char* b) {
  return CaseFoldKey(*namePage, a) == CaseFoldKey(*namePage, b);
}

struct FolderHandle {
  int fd = -1;
  ~FolderHandle() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

void ExtractCommand(const std::string& setupPath, const std::string& folder, const CodePage& page,
                    std::ostream& report) {
  // The folder must be new or empty, so that everything in it afterwards
  // came from the setup, and the setup's own refusal to create a folder
  // twice still shows.
  HostStat st = StatHost(folder, false);
  if (st.kind == HostKind::Missing) {
    if (mkdir(folder.c_str(), 0777) != 0) {
      throw PackerError(DescribeFailure(folder, "cannot create folder", errno));
    }
  } else if (st.kind != HostKind::Folder) {
    throw PackerError(DescribeFailure(folder, "is not a folder", 0));
  } else {
    std::vector<std::string> names;
    int error = 0;
    if (!ListHostFolder(folder, &names, &error)) {
      throw PackerError(DescribeFailure(folder, "cannot read folder", error));
    }
    if (!names.empty()) throw PackerError(DescribeFailure(folder, "is not empty", 0));
  }
  // The folder by a short path of its own, however long the caller's is:
  // composed paths stay within 259 characters as they would below a short
  // install folder, and a folder renamed meanwhile is still the one written.
  FolderHandle target;
  target.fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (target.fd < 0) throw PackerError(DescribeFailure(folder, "cannot open folder", errno));
  std::string installDir = "/proc/self/fd/" + std::to_string(target.fd);

  int setupFd = open(setupPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (setupFd < 0) throw PackerError(DescribeFailure(setupPath, "cannot open", errno));
  std::string ownPath = "/proc/self/fd/" + std::to_string(setupFd);
  OverrideOwnPath(ownPath.c_str());
  namePage = &page;
  SetNameMatch(SameNameInPage);
  ClearError();
  bool ok =
      theScript.LoadFromPayload(SETUP_SCRIPT_NAME) && ExtractPayload(installDir.c_str(), "", "");
  SetNameMatch(nullptr);
  OverrideOwnPath(nullptr);
  close(setupFd);
  theScript.Clear();
  if (!ok) {
    throw PackerError(DescribeFailure(setupPath,
                                      std::string("the setup would stop with \"") + ErrorMessage() +
                                          "\" under \"" + ErrorCaption() + "\"",
                                      0));
  }
  NamesToUtf8(folder, page);

  uint64_t files = 0, folders = 0;
  SetupReader reader(setupPath);
  for (SetupRecord record = reader.Next(false); record.type != BLOB_END;
       record = reader.Next(false)) {
    files += record.type == BLOB_FILE;
    folders += record.type == BLOB_FOLDER;
  }
  report << folder << ": " << files << " file" << (files == 1 ? "" : "s") << ", " << folders
         << " folder" << (folders == 1 ? "" : "s") << " written\n";
}

}  // namespace popbox
