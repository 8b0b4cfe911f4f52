#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "packer/app_folder.h"
#include "packer/branding/icon_file.h"
#include "packer/branding/pe_image.h"
#include "packer/branding/stub_branding.h"
#include "packer/check.h"
#include "packer/commands.h"
#include "packer/common/codepage.h"
#include "packer/common/diagnostics.h"
#include "packer/common/packer_error.h"
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
  // A signed stub (the front of a signed setup, say) would carry a
  // certificate table that no longer matches: the setup would fail its
  // signature check. Sign the setup, not the stub.
  try {
    PeDirectory certificates = PeImage(stub).Directory(PE_DIRECTORY_SECURITY);
    if (certificates.rva != 0 || certificates.size != 0) {
      throw BrandError(
          "is signed (it has a certificate table); use the unsigned stub and sign "
          "the setup after packing");
    }
  } catch (const BrandError& e) {
    throw PackerError(DescribeFailure(path, e.what(), 0));
  }
  return stub;
}

// One record made ready for the payload: its bytes and how they are stored.
struct Prepared {
  bool done = false;
  std::exception_ptr failure;
  size_t size = 0;
  ByteBuffer data;  // a file's bytes when they are stored or compressed by the writer
  RecordContents contents{false, {}};
  bool large = false;  // read only: the writer compresses it with every job
};

// A file this large is compressed by the writer on all jobs and written as
// it is encoded; smaller ones are compressed whole, one per job.
constexpr uint64_t LARGE_FILE = uint64_t{8} << 20;

// Reads and compresses the records on `jobs` threads, and hands them out
// strictly in order. Each record's result depends on nothing but its own
// bytes, so the output is the same for any number of jobs. Workers stay at
// most a window of records and of bytes ahead of the writer, which bounds
// the memory held: MAX_HELD bytes of files and their packed forms beside
// the one large file the writer works on. At most `jobs` threads compress
// at any time: a worker takes one of `jobs` permits for each file, and the
// writer takes them all while it compresses a large file (reading goes on).
class Compressor {
 public:
  Compressor(const std::vector<AppRecord>& records, bool compress, unsigned jobs)
      : records_(records),
        compress_(compress),
        slots_(records.size()),
        window_(4 * jobs),
        jobs_(jobs) {
    for (unsigned i = 0; i < jobs; ++i) scratches_.emplace_back(new EncoderScratch);
    for (unsigned i = 0; i < jobs; ++i) threads_.emplace_back([this, i] { Work(*scratches_[i]); });
  }
  ~Compressor() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

  // The record at `index`, the next one in order; rethrows its failure.
  // While it waits, `tick` runs every tenth of a second. The writer is done
  // with the record before.
  template <typename Tick>
  Prepared Take(size_t index, Tick tick) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (writerHoldsLarge_) {
      writerHoldsLarge_ = false;
      changed_.notify_all();
    }
    while (!changed_.wait_for(lock, std::chrono::milliseconds(100),
                              [&] { return slots_[index].done; })) {
      lock.unlock();
      tick();
      lock.lock();
    }
    Prepared result = std::move(slots_[index]);
    slots_[index] = Prepared();
    taken_ = index + 1;
    writerHoldsLarge_ = Large(index);
    held_ -= records_[index].size;
    lock.unlock();
    changed_.notify_all();
    if (result.failure) std::rethrow_exception(result.failure);
    return result;
  }

  // Runs compress(scratch) holding every permit: the workers finish the
  // files they compress and start no other meanwhile, so the first one's
  // scratch is free, and its memory serves the large file too.
  template <typename Compress>
  auto Alone(Compress compress) -> decltype(compress(nullptr)) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      writerWaits_ = true;
      changed_.wait(lock, [&] { return permitsTaken_ == 0; });
      permitsTaken_ = jobs_;
    }
    struct Release {
      Compressor& c;
      ~Release() {
        {
          std::lock_guard<std::mutex> lock(c.mutex_);
          c.permitsTaken_ = 0;
          c.writerWaits_ = false;
        }
        c.changed_.notify_all();
      }
    } release{*this};
    return compress(scratches_[0].get());
  }

 private:
  static constexpr uint64_t MAX_HELD = uint64_t{32} << 20;

  bool Large(size_t index) const { return compress_ && records_[index].size >= LARGE_FILE; }

  // The next record may be read: within the window of records and bytes,
  // and never a second large file while the writer holds one, which would
  // hold two large inputs beside the plan at once.
  bool MayStart() const {
    if (next_ >= records_.size()) return true;
    if (writerHoldsLarge_ && Large(next_)) return false;
    if (next_ >= taken_ + window_) return false;
    return next_ == taken_ || held_ + records_[next_].size <= MAX_HELD;
  }

  bool TakePermit() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return stop_ || (!writerWaits_ && permitsTaken_ < jobs_); });
    if (stop_) return false;
    ++permitsTaken_;
    return true;
  }
  void ReturnPermit() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      --permitsTaken_;
    }
    changed_.notify_all();
  }

  void Work(EncoderScratch& scratch) {
    ByteBuffer bytes;
    for (;;) {
      size_t index;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || MayStart(); });
        if (stop_ || next_ >= records_.size()) return;
        index = next_++;
        held_ += records_[index].size;
      }
      Prepared result;
      const AppRecord& record = records_[index];
      try {
        if (record.type == BLOB_FILE) {
          ReadFileInto(record.hostPath, MAX_FILE_SIZE, &bytes, jobs_, record.id);
          result.size = bytes.size();
          result.large = Large(index);
          if (compress_ && !result.large) {
            if (!TakePermit()) return;  // stopping: nobody takes the result
            try {
              result.contents = ChooseContents(bytes.data(), bytes.size(), &scratch);
            } catch (...) {
              ReturnPermit();
              throw;
            }
            ReturnPermit();
          }
          // The writer needs the bytes themselves only when it stores them
          // or compresses them; else the buffer serves the next file.
          if (!result.contents.compressed) result.data = std::move(bytes);
          if (!result.large) encoded += result.size;
        }
      } catch (...) {
        result.failure = std::current_exception();
      }
      result.done = true;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        slots_[index] = std::move(result);
      }
      changed_.notify_all();
    }
  }

 public:
  std::atomic<uint64_t> encoded{0};  // bytes of small files read and compressed, for the progress

 private:
  const std::vector<AppRecord>& records_;
  const bool compress_;  // false: store everything
  std::vector<Prepared> slots_;
  const size_t window_;
  const unsigned jobs_;
  unsigned permitsTaken_ = 0;      // by workers, or all of them by the writer
  bool writerWaits_ = false;       // for every permit: no worker takes one
  bool writerHoldsLarge_ = false;  // the record last taken is a large file
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t next_ = 0;    // the next record a worker takes up
  size_t taken_ = 0;   // records handed to the writer
  uint64_t held_ = 0;  // listed bytes of records taken up but not handed out
  bool stop_ = false;
  std::vector<std::unique_ptr<EncoderScratch>> scratches_;  // one per worker, used under a permit
  std::vector<std::thread> threads_;
};

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
