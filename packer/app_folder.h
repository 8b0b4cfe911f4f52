// The application folder as payload records: what is packed, in which
// order, and under which record names.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "base/path_limits.h"
#include "packer/host/host_file.h"

namespace popbox {

class Diagnostics;
class Exclusions;
struct CodePage;

struct AppRecord {
  std::string recordName;  // relative, backslash-separated, in the code page
  std::string hostPath;    // where the packer reads it (UTF-8 on POSIX)
  uint32_t type;           // BLOB_FOLDER or BLOB_FILE
  uint64_t size;           // file size when listed; 0 for folders
  FileIdentity id;         // of the file listed, which pack reads and no other
};

// A file or folder the author left out, and the pattern that did.
struct LeftOut {
  std::string hostPath;
  std::string pattern;
  std::string recordName;  // the name it would have had, or empty
};

struct AppFolder {
  std::vector<AppRecord> records;
  std::vector<LeftOut> leftOut;
};

// Lists the application folder `root`: first its Setup.ini (found without
// regard to case, as the setup finds it), then every folder and file below
// it that is not left out (exclusions.h), depth first, the records of each
// folder sorted by the bytes of their record names, so that a folder comes
// before everything inside it and the order depends neither on the file
// system nor on the host's locale.
//
// Every problem goes into `diagnostics` as an error, and the walk goes on
// past it so that one run names them all: a missing Setup.ini, a name that
// Windows cannot create or the code page cannot hold, two names that
// Windows would take for one, a record name over 254 bytes, a file too
// large for a record, a symbolic link that leads out of `root` or nowhere,
// a link loop, an entry that is neither file nor folder, and a folder or
// file that cannot be read, and a folder reached a second time through a
// symbolic link (a setup holds each folder once). The records then leave
// out what was refused. A file that is itself a popbox setup gets a
// warning, and so does a pattern that leaves out nothing. A folder whose
// every entry is left out is left out too.
AppFolder ListAppFolder(const std::string& root, const CodePage& page, const Exclusions& exclusions,
                        Diagnostics* diagnostics);

// Why one element of a record name (code-page bytes) cannot be part of a
// Windows path, or empty when it can: a backslash (it would split the
// element), control bytes and < > : " / | ? *, a trailing dot or space
// (Windows drops them), and the device names CON, PRN, AUX, NUL, COM1-9,
// LPT1-9 and COM or LPT with a superscript 1 to 3 (IsDeviceName), with or
// without an extension.
std::string CheckNameElement(const std::string& element);

// The longest record name that some install folder can hold: the folder,
// a backslash and the name make at most 259 characters, and the shortest
// folder the user can type, such as C:\a, takes 4.
constexpr size_t MAX_RECORD_NAME_LENGTH = MAX_NAME_LENGTH - 1 - 4;

// Why a record name of `length` bytes cannot be installed, or empty: over
// 259 bytes the setup cannot read it, and over 254 it fits no install
// folder, so the setup would refuse every folder its user types.
std::string CheckRecordNameLength(size_t length);

// A-Z folded to a-z, the comparison the setup makes for record names.
std::string AsciiLower(std::string text);

// The largest file a record can carry: the reader refuses an unpacked size
// of 0xFFFFFFFF, whose plus-one overflows.
constexpr uint64_t MAX_FILE_SIZE = 0xFFFFFFFEu;

}  // namespace popbox
