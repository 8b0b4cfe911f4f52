// The application folder as payload records: what is packed, in which
// order, and under which record names.
#pragma once

#include <stdint.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace popbox {

// The file every application folder must hold at its top, packed first.
extern const char SETUP_SCRIPT_NAME[];  // "Setup.ini"

struct AppEntry {
  std::string recordName;  // relative, backslash-separated, as stored
  std::string hostPath;    // where the packer reads it
  uint32_t type;           // BLOB_FOLDER or BLOB_FILE
};

// A file's identity, to leave one file (the output itself) out of a pack.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool valid = false;
};

// Lists the application folder `root`: first its Setup.ini, then every
// folder and file below it, depth first, the entries of each folder sorted
// by their name bytes, so that a folder comes before everything inside it
// and the order never depends on the file system. Symbolic links are
// followed. `skip` names a file to leave out (it may be invalid).
//
// Throws PackerError, naming the offending path, for a missing Setup.ini,
// a name that cannot become a record name (see CheckNameElement), a record
// name over MAX_NAME_LENGTH bytes, two names in one folder that differ only
// in letter case, an entry that is neither a regular file nor a folder, a
// folder that cannot be read, and a symbolic link that loops.
std::vector<AppEntry> ListAppFolder(const std::string& root, const FileIdentity& skip);

// Why one element of a host path cannot be part of a record name, or empty
// when it can: a backslash (it would split the element), bytes that
// Windows refuses in file names (control bytes and < > : " / | ? *), a
// trailing dot or space (Windows drops them), and the device names CON,
// PRN, AUX, NUL, COM1-9 and LPT1-9, with or without an extension.
std::string CheckNameElement(const std::string& element);

}  // namespace popbox
