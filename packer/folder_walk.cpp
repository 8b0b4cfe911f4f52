// The walk of the application folder (ListAppFolder in app_folder.h).
#include <errno.h>

#include <algorithm>
#include <map>

#include "base/text.h"
#include "packer/app_folder.h"
#include "packer/common/codepage.h"
#include "packer/common/diagnostics.h"
#include "packer/common/packer_error.h"
#include "packer/exclusions.h"
#include "payload/payload_format.h"
#include "script/setup_ini.h"

namespace popbox {

namespace {

// One name of a folder, converted, before it is looked at.
struct Named {
  std::string host;    // as the host file system has it
  std::string record;  // the element in the code page
};

struct Walk {
  const CodePage& page;
  const Exclusions& exclusions;
  Diagnostics& diagnostics;
  std::string realRoot;  // the root with its links resolved, for link checks
  std::string rootShown;
  AppFolder result;
  std::vector<FileIdentity> openFolders;  // the folders being walked, to spot loops
  std::map<std::pair<uint64_t, uint64_t>, std::string> walked;  // every folder, by identity
  AppRecord script;                                             // Setup.ini, once found
  bool haveScript = false;
  bool scriptRefused = false;  // a Setup.ini at the top was refused, with its own message

  void Refuse(const std::string& path, const std::string& why) {
    diagnostics.Error(path, 0, why);
    size_t slash = path.find_last_of('/');
    scriptRefused |= path.compare(0, slash, rootShown) == 0 &&
                     AsciiLower(path.substr(slash + 1)) == AsciiLower(SETUP_SCRIPT_NAME);
  }

  // A link may point anywhere inside the root, itself included (a loop,
  // caught by openFolders), but not out of it.
  bool LinkStaysInside(const std::string& hostPath) {
    std::string target = RealHostPath(hostPath);
    if (target.empty()) {
      Refuse(hostPath, StatHost(hostPath, true).error == ELOOP
                           ? "is a symbolic link in a loop of links that never reaches a file"
                           : "is a symbolic link that leads nowhere");
      return false;
    }
    if (target != realRoot && target.compare(0, realRoot.size() + 1, realRoot + "/") != 0) {
      Refuse(hostPath, "is a symbolic link to " + target + ", outside " + rootShown +
                           "; the packer follows only links that stay inside the "
                           "application folder (copy the file in instead)");
      return false;
    }
    return true;
  }

  // The names of a folder that are not left out, converted and sorted by
  // their record bytes, with those that cannot become record names refused.
  // `leftOut` counts the names left out by a pattern.
  std::vector<Named> Names(const std::string& hostFolder, const std::string& relative,
                           size_t* leftOut) {
    std::vector<std::string> hostNames;
    int error = 0;
    if (!ListHostFolder(hostFolder, &hostNames, &error)) {
      Refuse(hostFolder, "cannot read folder (" + ErrnoText(error) + ")");
      return {};
    }
    std::vector<Named> names;
    for (const std::string& host : hostNames) {
      std::string hostPath = hostFolder + "/" + host;
      bool isFolder = StatHost(hostPath, true).kind == HostKind::Folder;
      if (const std::string* by = exclusions.Match(relative + host, isFolder)) {
        if (relative.empty() && AsciiLower(host) == AsciiLower(SETUP_SCRIPT_NAME)) {
          Refuse(hostPath, "is left out by " + *by + ", but every setup needs it");
        } else if (*by != IGNORE_FILE_NAME) {
          std::string record, problem;
          Utf8ToCodePage(page, relative + host, &record, &problem);
          std::replace(record.begin(), record.end(), '/', '\\');
          result.leftOut.push_back({hostPath, *by, record});
          ++*leftOut;
        }
        continue;
      }
      Named named{host, ""};
      std::string problem;
      if (!Utf8ToCodePage(page, host, &named.record, &problem)) {
        Refuse(hostPath, "its name holds " + problem + ", which code page " +
                             std::to_string(CodePageNumber(page)) +
                             " cannot represent; rename it or choose another --codepage");
        continue;
      }
      problem = CheckNameElement(named.record);
      if (!problem.empty()) {
        Refuse(hostPath, problem);
        continue;
      }
      names.push_back(named);
    }
    std::sort(names.begin(), names.end(),
              [](const Named& a, const Named& b) { return a.record < b.record; });

    // Windows matches names without regard to case, so two names that differ
    // only in letter case would land on one file when installed.
    std::map<std::string, const Named*> seen;
    std::vector<Named> kept;
    for (const Named& named : names) {
      auto inserted = seen.emplace(CaseFoldKey(page, named.record), &named);
      if (!inserted.second) {
        Refuse(hostFolder + "/" + named.host,
               "differs from " + inserted.first->second->host +
                   " only in letter case; Windows would take both for one file");
        continue;
      }
      kept.push_back(named);
    }
    return kept;
  }

  // A file pack must read: it opens now, and one that is itself a setup
  // would be packed into this one.
  void LookInto(const std::string& hostPath) {
    try {
      HostReadFile file(hostPath);
      uint8_t head[2], record[2];
      if (file.ReadAt(0, head, 2) && file.ReadAt(PAYLOAD_OFFSET, record, 2) && head[0] == 'M' &&
          head[1] == 'Z' && Load16(record) == BLOB_MAGIC) {
        diagnostics.Warning(hostPath, 0,
                            "is a popbox setup itself and would be packed into this one; move it "
                            "out of the folder or leave it out (--exclude, .popboxignore)");
      }
    } catch (const PackerError& e) {
      std::string why = e.what();
      Refuse(hostPath, why.substr(why.find(": error: ") + 9) + "; pack would fail on it");
    }
  }

  // A folder is walked once, however many links lead to it: links to
  // folders could otherwise make the walk, and the setup, grow
  // exponentially with their depth.
  bool FirstVisit(const std::string& hostPath, const HostStat& st) {
    if (std::find(openFolders.begin(), openFolders.end(), st.id) != openFolders.end()) {
      Refuse(hostPath, "leads back into a folder above it");
      return false;
    }
    auto first = walked.emplace(std::make_pair(st.id.device, st.id.inode), hostPath);
    if (!first.second) {
      Refuse(hostPath, "is the folder " + first.first->second +
                           " again (one of them through a symbolic link); a setup holds each "
                           "folder once: leave one of them out (--exclude, .popboxignore)");
      return false;
    }
    return true;
  }

  // Walks one folder; true when it had entries and patterns left out every
  // one of them, so that the folder itself is left out too.
  bool Folder(const std::string& hostFolder, const std::string& recordPrefix,
              const std::string& relative) {
    bool top = relative.empty();
    size_t leftOut = 0, kept = 0;
    const std::vector<Named> names = Names(hostFolder, relative, &leftOut);
    for (const Named& named : names) {
      std::string hostPath = hostFolder + "/" + named.host;
      std::string recordName = recordPrefix + named.record;
      std::string tooLong = CheckRecordNameLength(recordName.size());
      if (!tooLong.empty()) {
        Refuse(hostPath, tooLong);
        continue;
      }

      HostStat st = StatHost(hostPath, false);
      if (st.kind == HostKind::Link) {
        if (!LinkStaysInside(hostPath)) continue;
        st = StatHost(hostPath, true);
      }
      if (st.kind == HostKind::Missing) {
        Refuse(hostPath, "cannot read (" + ErrnoText(st.error) + ")");
        continue;
      }

      bool isScript = top && AsciiLower(named.record) == AsciiLower(SETUP_SCRIPT_NAME);
      if (st.kind == HostKind::File) {
        if (st.size > MAX_FILE_SIZE) {
          Refuse(hostPath, "is " + std::to_string(st.size) + " bytes; a setup can carry at most " +
                               std::to_string(MAX_FILE_SIZE));
          continue;
        }
        LookInto(hostPath);
        AppRecord record{recordName, hostPath, BLOB_FILE, st.size, st.id};
        if (isScript) {
          script = record;
          haveScript = true;
        } else {
          result.records.push_back(record);
        }
      } else if (st.kind == HostKind::Folder) {
        if (isScript) {
          Refuse(hostPath, "is a folder; the setup script must be a file");
          continue;
        }
        if (!FirstVisit(hostPath, st)) continue;
        result.records.push_back({recordName, hostPath, BLOB_FOLDER, 0, st.id});
        openFolders.push_back(st.id);
        size_t before = result.leftOut.size();
        if (Folder(hostPath, recordName + "\\", relative + named.host + "/")) {
          result.records.pop_back();
          result.leftOut.push_back({hostPath, result.leftOut[before].pattern, recordName});
          ++leftOut;
          --kept;
        }
        openFolders.pop_back();
      } else {
        Refuse(hostPath, "is neither a regular file nor a folder");
      }
      ++kept;
    }
    return !top && leftOut != 0 && kept == 0;
  }
};

// The likely slip behind a pattern that matched nothing: blanks around it,
// or letter case (patterns match it exactly, as file names on Linux do).
std::string WhyNothing(const std::string& pattern, const std::string& root,
                       const std::vector<AppRecord>& records) {
  if (pattern.find_first_not_of(' ') != 0 || pattern.back() == ' ') {
    return "; it begins or ends with a blank, which is part of the pattern";
  }
  for (const AppRecord& record : records) {
    std::string path = record.hostPath.substr(root.size() + 1);
    if (PatternMatches(AsciiLower(pattern), AsciiLower(path), record.type == BLOB_FOLDER)) {
      return "; patterns match letter case exactly, and without regard to case it would "
             "leave out " +
             path;
    }
  }
  return "";
}

}  // namespace

AppFolder ListAppFolder(const std::string& folder, const CodePage& page,
                        const Exclusions& exclusions, Diagnostics* diagnostics) {
  std::string root = folder;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  HostStat st = StatHost(root, true);
  if (st.kind == HostKind::Missing) {
    diagnostics->Error(root, 0, "cannot read folder (" + ErrnoText(st.error) + ")");
    return {};
  }
  if (st.kind != HostKind::Folder) {
    diagnostics->Error(root, 0, "is not a folder");
    return {};
  }

  Walk walk{page, exclusions, *diagnostics, RealHostPath(root), root, {}, {}, {}, {}, false, false};
  walk.openFolders.push_back(st.id);
  walk.Folder(root, "", "");
  for (const Exclusions::Unused& unused : exclusions.NeverMatched()) {
    diagnostics->Warning(unused.source, unused.line,
                         "the pattern \"" + unused.pattern + "\" leaves out nothing" +
                             WhyNothing(unused.pattern, root, walk.result.records));
  }
  if (walk.haveScript) {
    walk.result.records.insert(walk.result.records.begin(), walk.script);
  } else if (!walk.scriptRefused) {
    diagnostics->Error(root + "/" + SETUP_SCRIPT_NAME, 0,
                       "is missing; every application folder needs one (the setup would stop "
                       "with \"Missing BLOB: Setup.ini\"); popbox init writes one to start from");
  }
  return walk.result;
}

}  // namespace popbox
