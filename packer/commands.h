// The packer's commands. Each one throws PackerError (packer_error.h) for
// input it cannot use; main.cpp turns that into a message and exit code.
// Commands that judge a package print their findings as diagnostics
// (diagnostics.h) and return false when one of them is an error.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "packer/branding/version_info.h"

namespace popbox {

struct CodePage;
struct PackageRecord;  // check.h
class SetupReader;

struct PackOptions {
  std::string appFolder;
  std::string output;
  std::string stub;                   // empty: the first of StubPlaces() that exists
  bool store = false;                 // every file stored uncompressed
  bool quiet = false;                 // no warnings, progress or summary
  unsigned jobs = 1;                  // files compressed at the same time
  const CodePage* page;               // record names are written in it
  std::vector<std::string> excludes;  // --exclude patterns (exclusions.h)
  std::string icon;                   // --icon FILE.ico: the setup's icon
  VersionOptions version;             // the setup's version information
};

// popbox pack: check first; then the stub image and the application folder
// as records. The output lies outside the folder, appears complete or not at
// all, and its bytes depend only on the folder's contents, the stub and the
// code page.
// `report` gets the summary, `diagnostics` the findings and the progress.
bool PackCommand(const PackOptions& options, std::ostream& report, std::ostream& diagnostics);

// popbox check: what `pack` would refuse (errors) or warn about, and what
// it leaves out.
bool CheckCommand(const std::string& appFolder, const CodePage& page,
                  const std::vector<std::string>& excludes, bool quiet, std::ostream& report,
                  std::ostream& diagnostics);

// popbox list: one line per record, read with the setup's own reader, and
// the totals; for a folder, the records pack would write and what it leaves
// out.
void ListCommand(const std::string& path, const CodePage& page,
                 const std::vector<std::string>& excludes, std::ostream& out);

// popbox init: a Setup.ini to start from, written into the folder; never
// over an existing one.
void InitCommand(const std::string& appFolder, const CodePage& page, std::ostream& report);

// popbox verify: every record decoded and the layout checked; prints the
// first problem, or a line saying the setup is sound.
bool VerifyCommand(const std::string& setupPath, const CodePage& page, std::ostream& report,
                   std::ostream& diagnostics);

// verify's checks of the layout, which extract makes first too: the stub
// image, every record read and decoded with the setup's reader, names that
// pack would write and the setup can install, each folder before what is
// in it, no name twice, the end record last and nothing behind it but a
// signature. Returns the first problem as verify names it ("" for none);
// `records` gets the records for the script checks, `script` Setup.ini.
std::string CheckSetupLayout(SetupReader& reader, const CodePage& page,
                             std::vector<PackageRecord>* records, std::string* script);

// popbox extract: the payload written into `folder` by the stub's own
// extraction, names converted back from the code page. A setup that the
// layout checks refuse is refused before anything is written.
void ExtractCommand(const std::string& setupPath, const std::string& folder, const CodePage& page,
                    std::ostream& report);

struct TryOptions {
  std::string setup;
  bool folderGiven = false;  // else the folder proposed stays
  std::string folder;        // typed into the folder field
  bool programsLink = true;  // false: the Start menu box is cleared
  bool desktopLink = true;   // false: the desktop box is cleared
  bool cancel = false;       // Cancel in the dialog
  bool answerOk = true;      // the answer to the closing question
  std::string keep;          // the prefix is made and kept there
  unsigned timeout = 120;    // seconds for the whole setup
  bool json = false;         // the report as one JSON document
  std::string screenshots;   // pictures of each window go there
  std::string storeName;     // typed in the store layout
  std::string storeUrl;
};

// popbox try: the setup run under Wine as its user would run it, in a
// throwaway prefix, and the report of what happened. The work is done by
// the runner try_setup.py with setup-driver.exe, found where the stub is
// (TrialPlaces). Returns the exit code: 0 installed and ended as expected,
// 1 otherwise. On Windows it throws PackerError: run the setup itself.
int TryCommand(const TryOptions& options);

// Where try looks for a file of its runner: beside the popbox binary, and
// in ../share/popbox/ from its folder, as for the stub.
std::vector<std::string> TrialPlaces(const std::string& name);

// Where pack looks for its stub without --stub, in order: popbox-stub.exe
// beside the popbox binary, and ../share/popbox/popbox-stub.exe from its
// folder (the installed layout). The second form gives them for the popbox
// in `folder` (ending in a separator).
std::vector<std::string> StubPlaces();
std::vector<std::string> StubPlaces(const std::string& folder);

}  // namespace popbox
