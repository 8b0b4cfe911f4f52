#include <chrono>

#include "packer/app_folder.h"
#include "packer/branding/icon_file.h"
#include "packer/branding/stub_branding.h"
#include "packer/check.h"
#include "packer/commands.h"
#include "packer/common/codepage.h"
#include "packer/common/diagnostics.h"
#include "packer/common/packer_error.h"
#include "packer/compressor.h"
#include "packer/encoder/encoder.h"
#include "packer/encoder/payload_writer.h"
#include "packer/exclusions.h"
#include "packer/host/host_file.h"
#include "payload/payload_format.h"
#include "script/script_document.h"
#include "script/setup_ini.h"

namespace popbox {

namespace {

std::vector<uint8_t> ReadStub(const std::string& path) {
  HostStat st = StatHost(path, true);
  if (st.kind == HostKind::Missing) {
    throw PackerError(DescribeFailure(path, "cannot read the stub", st.error));
  }
  if (st.kind == HostKind::File && st.size != PAYLOAD_OFFSET) {
    throw PackerError(DescribeFailure(path,
                                      "is " + std::to_string(st.size) +
                                          " bytes; a stub must be exactly " +
                                          std::to_string(PAYLOAD_OFFSET) + " bytes",
                                      0));
  }
  std::vector<uint8_t> stub = ReadWholeFile(path, PAYLOAD_OFFSET);
  if (stub.size() != PAYLOAD_OFFSET) {
    throw PackerError(DescribeFailure(path, "changed size while being read", 0));
  }
  // Every stub, branded or not: a signed one (the front of a signed setup,
  // say) would carry a certificate table that no longer matches.
  try {
    CheckStub(stub);
  } catch (const BrandError& e) {
    throw PackerError(DescribeFailure(path, e.what(), 0));
  }
  return stub;
}

// "popbox: packing 12/340 files, 45%" on one terminal line, rewritten in
// place with \r, shown only when the work has lasted half a second.
class Progress {
 public:
  Progress(std::ostream& out, bool enabled, uint64_t totalBytes, size_t totalFiles)
      : out_(out), enabled_(enabled), totalBytes_(totalBytes), totalFiles_(totalFiles) {}
  ~Progress() { Finish(); }

  void Update(size_t files, uint64_t bytes) {
    if (!enabled_) return;
    auto now = Clock::now();
    if (now - start_ < std::chrono::milliseconds(500) ||
        now - last_ < std::chrono::milliseconds(100))
      return;
    last_ = now;
    bytes = std::min(bytes, totalBytes_);
    unsigned percent = totalBytes_ ? static_cast<unsigned>(bytes * 100 / totalBytes_) : 100;
    std::string line = "popbox: packing " + std::to_string(files) + "/" +
                       std::to_string(totalFiles_) + " files, " + std::to_string(percent) + "% (" +
                       std::to_string(bytes >> 20) + " of " + std::to_string(totalBytes_ >> 20) +
                       " MiB)";
    width_ = std::max(width_, line.size());
    out_ << '\r' << line << std::string(width_ - line.size(), ' ') << std::flush;
    shown_ = true;
  }

  void Finish() {
    if (shown_) out_ << '\r' << std::string(width_, ' ') << '\r' << std::flush;
    shown_ = false;
  }

 private:
  using Clock = std::chrono::steady_clock;
  std::ostream& out_;
  bool enabled_;
  uint64_t totalBytes_;
  size_t totalFiles_;
  Clock::time_point start_ = Clock::now();
  Clock::time_point last_;
  size_t width_ = 0;
  bool shown_ = false;
};

}  // namespace

std::vector<std::string> StubPlaces() { return StubPlaces(OwnFolder()); }

std::vector<std::string> StubPlaces(const std::string& folder) {
  return {folder + "popbox-stub.exe", folder + "../share/popbox/popbox-stub.exe"};
}

namespace {

// The stub named, or the first of the places pack looks in that exists.
std::string StubPath(const std::string& named) {
  if (!named.empty()) return named;
  std::vector<std::string> places = StubPlaces();
  for (const std::string& place : places) {
    if (StatHost(place, true).kind != HostKind::Missing) return place;
  }
  throw PackerError("popbox: error: no stub found at " + places[0] + " or " + places[1] +
                    "; name one with --stub FILE");
}

// The output is a new file, or a regular file to replace, in a folder that
// exists, outside the application folder (a setup written there would be
// packed into the next one, and could replace a file of the application),
// and none of pack's own inputs. Checked before any work is done.
void RefuseOutput(const PackOptions& options, const std::string& stubPath) {
  const std::string& output = options.output;
  auto refuse = [&](const std::string& why) { throw PackerError(DescribeFailure(output, why, 0)); };
  size_t slash = output.find_last_of(HOST_SEPARATORS);
  std::string folder = slash == std::string::npos ? "." : output.substr(0, slash + 1);
  HostStat st = StatHost(output, false);
  if (slash + 1 == output.size() || st.kind == HostKind::Folder) {
    refuse("is a folder; name the setup to write in it, as " + output +
           (slash + 1 == output.size() ? "" : "/") + "Setup.exe");
  }
  HostStat in = StatHost(folder, true);
  if (in.kind != HostKind::Folder) {
    refuse(in.kind == HostKind::Missing
               ? "cannot be written: the folder " + folder + " does not exist"
               : "cannot be written: " + folder + " is not a folder");
  }
  if (st.kind == HostKind::Link) {
    refuse(
        "is a symbolic link; pack would replace the link, not what it leads to: name the file "
        "itself");
  }
  if (st.kind == HostKind::Other) {
    refuse(
        "exists and is not a regular file (a device, a pipe or a socket); pack replaces only a "
        "regular file");
  }
  const struct {
    const std::string& path;
    const char* what;
  } inputs[] = {{stubPath, "the stub pack reads"}, {options.icon, "the icon pack reads"}};
  for (const auto& input : inputs) {
    if (!input.path.empty() && st.id == StatHost(input.path, true).id) {
      refuse(std::string("is ") + input.what + "; write the setup elsewhere");
    }
  }
  std::string app = RealHostPath(options.appFolder);
  std::string real = RealHostPath(folder);
  if (!app.empty() && !real.empty() && (real + "/").compare(0, app.size() + 1, app + "/") == 0) {
    refuse("lies inside the application folder " + options.appFolder +
           "; write the setup outside it");
  }
}

// Setup.ini's [Install] Title in UTF-8, or empty: the default product name.
std::string SetupTitle(const AppRecord& script, const CodePage& page) {
  std::vector<uint8_t> bytes = ReadWholeFile(script.hostPath, MAX_FILE_SIZE);
  ScriptDocument doc;
  doc.LoadFromText(reinterpret_cast<const char*>(bytes.data()), static_cast<int32_t>(bytes.size()));
  char* value;
  int32_t length;
  if (!doc.SelectSection(SECTION_INSTALL) || !doc.FindKey(KEY_TITLE, &value, &length)) return "";
  return CodePageToUtf8(page, std::string(value, static_cast<size_t>(length)));
}

// The stub with the author's icon and version information, when given.
// Images of the icon left out for want of room are warnings.
std::vector<uint8_t> BrandedStubFor(const std::string& stubPath, const PackOptions& options,
                                    const AppRecord& script, Diagnostics* found) {
  std::vector<uint8_t> stub = ReadStub(stubPath);
  BrandOptions brand;
  brand.iconPath = options.icon;
  brand.version = options.version;
  if (!brand.Any()) return stub;
  if (!options.icon.empty()) brand.iconFile = ReadWholeFile(options.icon, MAX_ICON_FILE_SIZE);
  if (options.version.Any()) {
    size_t slash = options.output.find_last_of(HOST_SEPARATORS);
    brand.versionDefaults.title = SetupTitle(script, *options.page);
    brand.versionDefaults.fileName =
        slash == std::string::npos ? options.output : options.output.substr(slash + 1);
  }
  BrandedStub branded = BrandStub(stub, stubPath, brand);
  for (const std::string& note : branded.notes) found->Warning(options.icon, 0, note);
  return std::move(branded.image);
}

// The setup holds a record's packed and unpacked bytes at once while it
// writes the file: a 32-bit program may not find that much memory.
constexpr uint64_t MEMORY_WARNING = uint64_t{512} << 20;

}  // namespace

bool PackCommand(const PackOptions& options, std::ostream& report, std::ostream& diagnostics) {
  const std::string stubPath = StubPath(options.stub);
  RefuseOutput(options, stubPath);
  Diagnostics found;
  std::vector<AppRecord> records =
      CheckAppFolder(options.appFolder, *options.page,
                     Exclusions(options.appFolder, options.excludes), &found)
          .records;
  found.Print(diagnostics, !options.quiet);
  if (found.Errors() != 0) return false;

  Diagnostics branding;
  std::vector<uint8_t> stub = BrandedStubFor(stubPath, options, records.front(), &branding);
  branding.Print(diagnostics, !options.quiet);
  StagedFile out(options.output);
  out.Write(stub.data(), stub.size());
  PayloadWriter writer([&out](const void* bytes, size_t count) { out.Write(bytes, count); });

  uint64_t totalBytes = 0;
  size_t totalFiles = 0;
  for (const AppRecord& record : records) {
    totalBytes += record.size;
    totalFiles += record.type == BLOB_FILE;
  }
  Progress progress(diagnostics, !options.quiet && StderrIsTerminal(), totalBytes, totalFiles);
  Diagnostics memory;
  {
    const unsigned jobs = options.jobs < 1 ? 1 : options.jobs;
    Compressor compressor(records, !options.store, jobs);
    uint64_t largeDone = 0;  // of the large files, including the one being written
    auto tick = [&] { progress.Update(writer.Totals().files, compressor.encoded + largeDone); };
    for (size_t i = 0; i < records.size(); ++i) {
      Prepared prepared = compressor.Take(i, tick);
      if (records[i].type == BLOB_FOLDER) {
        writer.AddFolder(records[i].recordName);
      } else {
        const uint64_t before = largeDone;
        uint64_t held = prepared.large ? compressor.Alone([&](EncoderScratch* scratch) {
          return writer.AddFileCompressing(records[i].recordName, prepared.data.data(),
                                           prepared.size, jobs, scratch, [&](uint64_t done) {
                                             largeDone = before + done / 2;
                                             tick();
                                           });
        })
                                       : writer.AddFile(records[i].recordName, prepared.data.data(),
                                                        prepared.size, prepared.contents);
        if (prepared.large) largeDone = before + prepared.size;
        if (held > MEMORY_WARNING) {
          memory.Warning(records[i].hostPath, 0,
                         "the setup needs " + std::to_string(held >> 20) +
                             " MiB of memory at once to install this file; a machine short of "
                             "memory stops with \"Out of memory.\"");
        }
      }
      tick();
    }
  }
  writer.Finish();
  out.Commit();
  progress.Finish();
  memory.Print(diagnostics, !options.quiet);

  const PayloadTotals& totals = writer.Totals();
  if (!options.quiet) {
    report << options.output << ": " << CountOf(totals.files, "file") << ", "
           << CountOf(totals.folders, "folder") << ", " << totals.unpackedBytes
           << " bytes of contents stored in " << totals.storedBytes << ", " << out.BytesWritten()
           << " bytes in all\n";
  }
  return true;
}

bool CheckCommand(const std::string& appFolder, const CodePage& page,
                  const std::vector<std::string>& excludes, bool quiet, std::ostream& report,
                  std::ostream& diagnostics) {
  Diagnostics found;
  AppFolder folder = CheckAppFolder(appFolder, page, Exclusions(appFolder, excludes), &found);
  found.Print(diagnostics, !quiet);
  if (!quiet) {
    size_t files = 0;
    for (const AppRecord& record : folder.records) files += record.type == BLOB_FILE;
    for (const LeftOut& left : folder.leftOut) {
      report << left.hostPath << ": left out by " << left.pattern << "\n";
    }
    report << appFolder << ": " << CountOf(found.Errors(), "error") << ", "
           << CountOf(found.Warnings(), "warning") << "; " << CountOf(files, "file") << ", "
           << CountOf(folder.records.size() - files, "folder")
           << (folder.leftOut.empty() ? ""
                                      : ", " + std::to_string(folder.leftOut.size()) + " left out")
           << "\n";
  }
  return found.Errors() == 0;
}

}  // namespace popbox
