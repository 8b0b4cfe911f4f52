#include "packer/app_folder.h"

#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>

#include "packer/packer_error.h"
#include "payload/payload_format.h"

namespace popbox {

const char SETUP_SCRIPT_NAME[] = "Setup.ini";

namespace {

bool SameFile(const struct stat& st, const FileIdentity& id) {
  return id.valid && st.st_dev == id.device && st.st_ino == id.inode;
}

std::string AsciiLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The names in a folder except "." and "..", sorted by their bytes.
std::vector<std::string> SortedNames(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) throw PackerError(DescribeFailure(folder, "cannot read folder", errno));
  std::vector<std::string> names;
  errno = 0;
  while (struct dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
    errno = 0;
  }
  int error = errno;
  closedir(dir);
  if (error != 0) throw PackerError(DescribeFailure(folder, "cannot read folder", error));
  std::sort(names.begin(), names.end());  // char_traits<char> compares as unsigned bytes
  return names;
}

// Windows matches names without regard to case, so two names that differ
// only in ASCII letter case would land on one file when installed.
void RefuseCaseTwins(const std::string& folder, const std::vector<std::string>& names) {
  std::map<std::string, const std::string*> seen;
  for (const std::string& name : names) {
    auto inserted = seen.emplace(AsciiLower(name), &name);
    if (!inserted.second) {
      throw PackerError(DescribeFailure(folder + "/" + name,
                                        "differs from " + *inserted.first->second +
                                            " only in letter case; Windows would take both "
                                            "for one file",
                                        0));
    }
  }
}

struct Walk {
  const FileIdentity& skip;
  std::vector<AppEntry> entries;
  std::vector<std::pair<dev_t, ino_t>> openFolders;  // the folders being walked, to spot loops

  void Folder(const std::string& hostFolder, const std::string& recordPrefix, bool top) {
    std::vector<std::string> names = SortedNames(hostFolder);
    RefuseCaseTwins(hostFolder, names);
    for (const std::string& name : names) {
      if (top && name == SETUP_SCRIPT_NAME) continue;  // already the first record
      std::string hostPath = hostFolder + "/" + name;
      std::string problem = CheckNameElement(name);
      if (!problem.empty()) throw PackerError(DescribeFailure(hostPath, problem, 0));
      std::string recordName = recordPrefix + name;
      if (recordName.size() > MAX_NAME_LENGTH) {
        throw PackerError(
            DescribeFailure(hostPath,
                            "its record name is " + std::to_string(recordName.size()) +
                                " bytes, more than " + std::to_string(MAX_NAME_LENGTH),
                            0));
      }

      struct stat st;
      if (stat(hostPath.c_str(), &st) != 0) {
        throw PackerError(DescribeFailure(hostPath, "cannot read", errno));
      }
      if (SameFile(st, skip)) continue;
      if (S_ISREG(st.st_mode)) {
        entries.push_back({recordName, hostPath, BLOB_FILE});
      } else if (S_ISDIR(st.st_mode)) {
        auto id = std::make_pair(st.st_dev, st.st_ino);
        if (std::find(openFolders.begin(), openFolders.end(), id) != openFolders.end()) {
          throw PackerError(DescribeFailure(hostPath, "leads back into a folder above it", 0));
        }
        entries.push_back({recordName, hostPath, BLOB_FOLDER});
        openFolders.push_back(id);
        Folder(hostPath, recordName + "\\", false);
        openFolders.pop_back();
      } else {
        throw PackerError(DescribeFailure(hostPath, "is neither a regular file nor a folder", 0));
      }
    }
  }
};

}  // namespace

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

std::vector<AppEntry> ListAppFolder(const std::string& folder, const FileIdentity& skip) {
  std::string root = folder;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  struct stat st;
  if (stat(root.c_str(), &st) != 0) {
    throw PackerError(DescribeFailure(root, "cannot read folder", errno));
  }
  if (!S_ISDIR(st.st_mode)) throw PackerError(DescribeFailure(root, "is not a folder", 0));

  std::string script = root + "/" + SETUP_SCRIPT_NAME;
  struct stat scriptStat;
  if (stat(script.c_str(), &scriptStat) != 0) {
    throw PackerError(DescribeFailure(script, "is missing; every application folder needs one",
                                      errno == ENOENT ? 0 : errno));
  }
  if (!S_ISREG(scriptStat.st_mode)) {
    throw PackerError(DescribeFailure(script, "is not a regular file", 0));
  }

  Walk walk{skip, {}, {}};
  walk.entries.push_back({SETUP_SCRIPT_NAME, script, BLOB_FILE});
  walk.openFolders.emplace_back(st.st_dev, st.st_ino);
  walk.Folder(root, "", true);
  return walk.entries;
}

}  // namespace popbox
