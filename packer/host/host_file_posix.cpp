// The packer's file system layer on POSIX systems.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <vector>

#include "packer/common/codepage.h"
#include "packer/common/packer_error.h"
#include "packer/common/work_pool.h"
#include "packer/host/host_file.h"

namespace popbox {

namespace {

// Closes a descriptor on every path out of ReadFileInto.
struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) close(fd);
  }
};

// Opening a FIFO for reading waits for a writer; with O_NONBLOCK it
// returns at once, and fstat refuses it. The flag changes nothing for the
// regular files that are read.
constexpr int READ_FLAGS = O_RDONLY | O_CLOEXEC | O_NONBLOCK;

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

HostStat StatHost(const std::string& path, bool followLinks) {
  HostStat result;
  struct stat st;
  if ((followLinks ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0) {
    result.error = errno;
    return result;
  }
  if (S_ISREG(st.st_mode)) {
    result.kind = HostKind::File;
  } else if (S_ISDIR(st.st_mode)) {
    result.kind = HostKind::Folder;
  } else if (S_ISLNK(st.st_mode)) {
    result.kind = HostKind::Link;
  } else {
    result.kind = HostKind::Other;
  }
  result.size = static_cast<uint64_t>(st.st_size);
  result.id.device = static_cast<uint64_t>(st.st_dev);
  result.id.inode = static_cast<uint64_t>(st.st_ino);
  result.id.valid = true;
  return result;
}

bool ListHostFolder(const std::string& path, std::vector<std::string>* names, int* error) {
  names->clear();
  DIR* dir = opendir(path.c_str());
  if (!dir) {
    *error = errno;
    return false;
  }
  errno = 0;
  while (struct dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(name);
    errno = 0;
  }
  *error = errno;
  closedir(dir);
  return *error == 0;
}

std::string RealHostPath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return "";
  std::string result = real;
  free(real);
  return result;
}

std::string OwnFolder() {
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "./";
  std::string path(self, static_cast<size_t>(n));
  return path.substr(0, path.find_last_of('/') + 1);
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

HostReadFile::HostReadFile(const std::string& path) {
  int fd = open(path.c_str(), READ_FLAGS);
  if (fd < 0) throw PackerError(DescribeFailure(path, "cannot open", errno));
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    throw PackerError(DescribeFailure(path, "is not a regular file", 0));
  }
  handle_ = fd;
  size_ = static_cast<uint64_t>(st.st_size);
}

HostReadFile::~HostReadFile() { close(static_cast<int>(handle_)); }

bool HostReadFile::ReadAt(uint64_t offset, void* buffer, size_t size) const {
  size_t got = 0;
  while (got < size) {
    ssize_t n = pread(static_cast<int>(handle_), static_cast<char*>(buffer) + got, size - got,
                      static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

CurrentFolder::CurrentFolder(const std::string& folder) {
  previousFolder_ = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (previousFolder_ < 0) throw PackerError(DescribeFailure(".", "cannot open folder", errno));
  if (chdir(folder.c_str()) != 0) {
    int error = errno;
    close(static_cast<int>(previousFolder_));
    throw PackerError(DescribeFailure(folder, "cannot enter folder", error));
  }
}

CurrentFolder::~CurrentFolder() {
  if (fchdir(static_cast<int>(previousFolder_)) != 0) {
    // The process stays in the extracted folder; nothing more can be done.
  }
  close(static_cast<int>(previousFolder_));
}

namespace {
uint8_t pageFold[256];
}  // namespace

void MatchNamesInCodePage(const CodePage* page) {
  if (page) {
    // Each byte stands for the first byte with the same key.
    std::map<std::string, uint8_t> first;
    for (int b = 0; b < 256; ++b) {
      std::string key = CaseFoldKey(*page, std::string(1, static_cast<char>(b)));
      pageFold[b] = first.emplace(key, static_cast<uint8_t>(b)).first->second;
    }
  }
  SetNameFold(page ? pageFold : nullptr);
}

std::string WrittenNameBytes(const std::string& name) { return name; }

bool MakeHostFolder(const std::string& path, int* error) {
  if (mkdir(path.c_str(), 0777) == 0) return true;
  *error = errno;
  return false;
}

void WriteNewHostFile(const std::string& path, const std::string& bytes) {
  FdCloser file{open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666)};
  if (file.fd < 0) throw PackerError(DescribeFailure(path, "cannot create", errno));
  if (write(file.fd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) {
    int error = errno;
    unlink(path.c_str());
    throw PackerError(DescribeFailure(path, "cannot write", error));
  }
}

bool RenameHost(const std::string& from, const std::string& to, int* error) {
  if (rename(from.c_str(), to.c_str()) == 0) return true;
  *error = errno;
  return false;
}

void ReadFileInto(const std::string& path, uint64_t maxSize, ByteBuffer* into, unsigned threads,
                  const FileIdentity& expected) {
  FdCloser input{open(path.c_str(), READ_FLAGS)};
  if (input.fd < 0) throw PackerError(DescribeFailure(path, "cannot open", errno));
  struct stat st;
  if (fstat(input.fd, &st) != 0) throw PackerError(DescribeFailure(path, "cannot read", errno));
  if (!S_ISREG(st.st_mode)) throw PackerError(DescribeFailure(path, "is not a regular file", 0));
  if (expected.valid && (expected.device != static_cast<uint64_t>(st.st_dev) ||
                         expected.inode != static_cast<uint64_t>(st.st_ino))) {
    RefuseSwappedFile(path);
  }
  uint64_t size = static_cast<uint64_t>(st.st_size);
  if (size > maxSize) {
    throw PackerError(DescribeFailure(path,
                                      "is " + std::to_string(size) + " bytes; at most " +
                                          std::to_string(maxSize) + " are allowed",
                                      0));
  }

  uint8_t* const contents = into->Resize(static_cast<size_t>(size));
  const unsigned parts = size >= LARGE_FILE && threads > 1 ? threads : 1;
  WorkPool reads(parts - 1, parts, [&](size_t k, unsigned) {
    uint64_t at = size * k / parts;
    const uint64_t end = size * (k + 1) / parts;
    while (at < end) {
      ssize_t n =
          pread(input.fd, contents + at, static_cast<size_t>(end - at), static_cast<off_t>(at));
      const int error = n < 0 ? errno : 0;
      if (error == EINTR) continue;
      if (n < 0) throw PackerError(DescribeFailure(path, "cannot read", error));
      if (n == 0) throw PackerError(DescribeFailure(path, "became shorter while being read", 0));
      at += static_cast<uint64_t>(n);
    }
  });
  reads.Extend(parts);
  reads.Help();
  // A file that grew meanwhile would be cut silently; refuse it instead.
  uint8_t extra;
  ssize_t more;
  do {
    more = pread(input.fd, &extra, 1, static_cast<off_t>(size));
  } while (more < 0 && errno == EINTR);
  if (more != 0) throw PackerError(DescribeFailure(path, "changed while being read", 0));
}

namespace {

// The temporary file of the output being written, which an interrupt
// (Ctrl+C, kill, a closed terminal) removes before the process ends. A
// signal the caller ignores (nohup, a shell's background job) stays
// ignored; SIGKILL cannot be caught, and leaves the file.
char stagedPath[PATH_MAX + 16];
volatile sig_atomic_t staged = 0;
const int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction callerActions[3];

void RemoveStagedAndStop(int signal) {
  if (staged) unlink(stagedPath);
  ::signal(signal, SIG_DFL);
  raise(signal);
}

// The stop signals held back while the file is made and recorded, so that
// none ends the process between the two.
void HoldStopSignals(bool hold) {
  sigset_t set;
  sigemptyset(&set);
  for (int s : STOP_SIGNALS) sigaddset(&set, s);
  sigprocmask(hold ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

void WatchStaged(const std::string& path) {
  if (path.size() >= sizeof stagedPath) return;
  memcpy(stagedPath, path.c_str(), path.size() + 1);
  staged = 1;
  for (size_t i = 0; i < 3; ++i) {
    struct sigaction remove = {};
    remove.sa_handler = RemoveStagedAndStop;
    sigaction(STOP_SIGNALS[i], nullptr, &callerActions[i]);
    if (callerActions[i].sa_handler != SIG_IGN) sigaction(STOP_SIGNALS[i], &remove, nullptr);
  }
}

void ForgetStaged() {
  if (!staged) return;
  staged = 0;
  for (size_t i = 0; i < 3; ++i) sigaction(STOP_SIGNALS[i], &callerActions[i], nullptr);
}

}  // namespace

StagedFile::StagedFile(const std::string& finalPath) : finalPath_(finalPath) {
  // A short fixed name in the same folder, so that the rename stays on
  // one file system and the name fits whatever the final name is.
  std::string folder = FolderOf(finalPath);
  std::vector<char> pattern(folder.begin(), folder.end());
  const char suffix[] = "/.popbox-XXXXXX";
  pattern.insert(pattern.end(), suffix, suffix + sizeof suffix);
  HoldStopSignals(true);
  int fd = mkstemp(pattern.data());
  int error = errno;
  if (fd >= 0) WatchStaged(pattern.data());
  HoldStopSignals(false);
  if (fd < 0) throw PackerError(DescribeFailure(finalPath, "cannot create", error));
  tempPath_ = pattern.data();

  // mkstemp makes the file private; a setup is a program: 0755 less the umask.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0755 & ~mask);

  file_ = fdopen(fd, "wb");
  if (!file_) {
    error = errno;
    close(fd);
    unlink(tempPath_.c_str());
    ForgetStaged();
    throw PackerError(DescribeFailure(finalPath, "cannot create", error));
  }
}

StagedFile::~StagedFile() {
  if (file_) fclose(file_);
  if (!committed_) unlink(tempPath_.c_str());
  ForgetStaged();
}

void StagedFile::Commit() {
  int error = 0;
  if (fflush(file_) != 0 || fsync(fileno(file_)) != 0) error = errno;
  if (fclose(file_) != 0 && error == 0) error = errno;
  file_ = nullptr;
  if (error != 0) throw PackerError(DescribeFailure(finalPath_, "cannot write", error));
  // What took the output's place meanwhile is not replaced unless it is a
  // regular file, as at the start.
  struct stat st;
  if (lstat(finalPath_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    throw PackerError(DescribeFailure(finalPath_, "is no longer a regular file; not replaced", 0));
  }
  if (rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
    throw PackerError(DescribeFailure(finalPath_, "cannot replace", errno));
  }
  committed_ = true;
  ForgetStaged();
}

std::string FindOnPath(const std::string& name) {
  const char* path = getenv("PATH");
  std::string folders = path ? path : "";
  for (size_t start = 0; start <= folders.size();) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string candidate = (end == start ? "." : folders.substr(start, end - start)) + "/" + name;
    struct stat st;
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    start = end + 1;
  }
  return "";
}

int RunHostProgram(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // As system() does: the terminal's signals reach both processes; this one
  // waits for the program, which decides what they mean.
  struct sigaction ignore = {}, interrupt, quit;
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGINT, &ignore, &interrupt);
  sigaction(SIGQUIT, &ignore, &quit);
  pid_t child = fork();
  if (child == 0) {
    sigaction(SIGINT, &interrupt, nullptr);
    sigaction(SIGQUIT, &quit, nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  sigaction(SIGINT, &interrupt, nullptr);
  sigaction(SIGQUIT, &quit, nullptr);
  if (child < 0 || !WIFEXITED(status) || WEXITSTATUS(status) == 127) return -1;
  return WEXITSTATUS(status);
}

}  // namespace popbox
