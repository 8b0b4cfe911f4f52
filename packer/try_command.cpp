// popbox try: finds python3, the runner (try_setup.py, which does the work
// and writes the report) and the driver (setup-driver.exe), and runs
//
//   python3 -I try_setup.py --popbox SELF --driver DRIVER OPTIONS... -- SETUP
//
// The runner calls back `popbox extract` through SELF, to know what the
// setup should install. It needs Wine, which this command leaves to it.
#include <string>
#include <vector>

#include "packer/commands.h"
#include "packer/common/packer_error.h"
#include "packer/host/host_file.h"

namespace popbox {

std::vector<std::string> TrialPlaces(const std::string& name) {
  std::string folder = OwnFolder();
  return {folder + name, folder + "../share/popbox/" + name};
}

#ifdef _WIN32

int TryCommand(const TryOptions&) {
  throw PackerError(
      "popbox try: runs a setup under Wine on Linux; on Windows, run the setup itself (in a "
      "virtual machine or Windows Sandbox, to keep this machine as it is)");
}

#else

namespace {

std::string Find(const std::string& name) {
  std::vector<std::string> places = TrialPlaces(name);
  for (const std::string& place : places) {
    if (StatHost(place, true).kind == HostKind::File) return place;
  }
  throw PackerError("popbox try: error: no " + name + " found at " + places[0] + " or " +
                    places[1] + "; build popbox with its MinGW part, or install its package");
}

}  // namespace

int TryCommand(const TryOptions& o) {
  if (StatHost(o.setup, true).kind != HostKind::File) {
    throw PackerError(DescribeFailure(o.setup, "is not a file", 0));
  }
  std::string python = FindOnPath("python3");
  if (python.empty()) throw PackerError("popbox try: needs python3: sudo apt install python3");
  // -I: no PYTHON* variables or user packages of this machine in the way.
  std::vector<std::string> run = {python, "-I", Find("try_setup.py")};
  run.insert(run.end(), {"--popbox", OwnFolder() + "popbox", "--driver", Find("setup-driver.exe")});
  run.insert(run.end(), {"--answer", o.answerOk ? "ok" : "cancel"});
  run.insert(run.end(), {"--timeout", std::to_string(o.timeout)});
  run.insert(run.end(), {"--store-name", o.storeName, "--store-url", o.storeUrl});
  if (o.folderGiven) run.insert(run.end(), {"--folder", o.folder});
  if (!o.keep.empty()) run.insert(run.end(), {"--keep", o.keep});
  if (!o.screenshots.empty()) run.insert(run.end(), {"--screenshots", o.screenshots});
  if (!o.programsLink) run.push_back("--no-programs-link");
  if (!o.desktopLink) run.push_back("--no-desktop-link");
  if (o.cancel) run.push_back("--cancel");
  if (o.json) run.push_back("--json");
  run.insert(run.end(), {"--", o.setup});
  int status = RunHostProgram(run);
  if (status < 0) throw PackerError("popbox try: error: " + run[2] + " did not run to its end");
  return status;
}

#endif

}  // namespace popbox
