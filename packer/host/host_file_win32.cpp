// The packer's file system layer on Windows. Host paths stay UTF-8 in the
// shared code; every call here converts them to UTF-16 and uses the wide
// API, so that names beyond the ANSI code page of the machine that runs
// popbox.exe are read exactly. '/' and '\' both separate.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "packer/common/packer_error.h"
#include "packer/host/host_file.h"

namespace popbox {

namespace {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], n);
  return wide;
}

std::string Utf8(const wchar_t* wide, size_t length) {
  if (length == 0) return std::string();
  int n =
      WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), &utf8[0], n, nullptr, nullptr);
  return utf8;
}

// The errno value that describes the last Win32 error, for messages.
int LastErrno() {
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_DISK_FULL:
      return ENOSPC;
    default:
      return EIO;
  }
}

struct Handle {
  HANDLE h;
  explicit Handle(HANDLE handle) : h(handle) {}
  ~Handle() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  bool ok() const { return h != INVALID_HANDLE_VALUE; }
};

// Opens anything, folders included, for asking about it.
HANDLE OpenForQuery(const std::string& path, bool followLinks) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  return CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, flags, nullptr);
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return ".";
  return path.substr(0, slash + 1);
}

}  // namespace

HostStat StatHost(const std::string& path, bool followLinks) {
  HostStat result;
  Handle file(OpenForQuery(path, followLinks));
  BY_HANDLE_FILE_INFORMATION info;
  if (!file.ok() || !GetFileInformationByHandle(file.h, &info)) {
    result.error = LastErrno();
    return result;
  }
  if (!followLinks && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    result.kind = HostKind::Link;
  } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    result.kind = HostKind::Folder;
  } else if (GetFileType(file.h) == FILE_TYPE_DISK) {
    result.kind = HostKind::File;
  } else {
    result.kind = HostKind::Other;
  }
  result.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  result.id.device = info.dwVolumeSerialNumber;
  result.id.inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  result.id.valid = true;
  return result;
}

bool ListHostFolder(const std::string& path, std::vector<std::string>* names, int* error) {
  names->clear();
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(Wide(path + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    *error = LastErrno();
    return false;
  }
  do {
    std::string name = Utf8(found.cFileName, wcslen(found.cFileName));
    if (name != "." && name != "..") names->push_back(name);
  } while (FindNextFileW(search, &found));
  bool complete = GetLastError() == ERROR_NO_MORE_FILES;
  *error = complete ? 0 : LastErrno();
  FindClose(search);
  return complete;
}

std::string RealHostPath(const std::string& path) {
  Handle file(OpenForQuery(path, true));
  if (!file.ok()) return "";
  wchar_t buffer[32768];
  DWORD n = GetFinalPathNameByHandleW(file.h, buffer, 32768, FILE_NAME_NORMALIZED);
  if (n == 0 || n >= 32768) return "";
  std::string real = Utf8(buffer, n);
  if (real.compare(0, 4, "\\\\?\\") == 0) real = real.substr(4);
  // One separator throughout, so that prefixes compare as the walk builds them.
  for (char& c : real) {
    if (c == '\\') c = '/';
  }
  return real;
}

void ReadFileInto(const std::string& path, uint64_t maxSize, ByteBuffer* into, unsigned,
                  const FileIdentity& expected) {
  Handle file(CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) throw PackerError(DescribeFailure(path, "cannot open", LastErrno()));
  LARGE_INTEGER size;
  if (GetFileType(file.h) != FILE_TYPE_DISK || !GetFileSizeEx(file.h, &size)) {
    throw PackerError(DescribeFailure(path, "is not a regular file", 0));
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (expected.valid &&
      (!GetFileInformationByHandle(file.h, &info) || expected.device != info.dwVolumeSerialNumber ||
       expected.inode !=
           ((static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow))) {
    RefuseSwappedFile(path);
  }
  if (static_cast<uint64_t>(size.QuadPart) > maxSize) {
    throw PackerError(DescribeFailure(path,
                                      "is " + std::to_string(size.QuadPart) + " bytes; at most " +
                                          std::to_string(maxSize) + " are allowed",
                                      0));
  }
  const size_t total = static_cast<size_t>(size.QuadPart);
  uint8_t* const contents = into->Resize(total);
  size_t got = 0;
  while (got < total) {
    DWORD chunk = total - got > (1u << 30) ? (1u << 30) : DWORD(total - got);
    DWORD n = 0;
    if (!ReadFile(file.h, contents + got, chunk, &n, nullptr)) {
      throw PackerError(DescribeFailure(path, "cannot read", LastErrno()));
    }
    if (n == 0) throw PackerError(DescribeFailure(path, "became shorter while being read", 0));
    got += n;
  }
  uint8_t extra;
  DWORD more = 0;
  if (ReadFile(file.h, &extra, 1, &more, nullptr) && more != 0) {
    throw PackerError(DescribeFailure(path, "changed while being read", 0));
  }
}

std::string OwnFolder() {
  wchar_t self[32768];
  DWORD n = GetModuleFileNameW(nullptr, self, 32768);
  if (n == 0 || n >= 32768) return ".\\";
  return FolderOf(Utf8(self, n));
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

HostReadFile::HostReadFile(const std::string& path) {
  handle_ = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) {
    throw PackerError(DescribeFailure(path, "cannot open", LastErrno()));
  }
  LARGE_INTEGER size;
  if (GetFileType(handle_) != FILE_TYPE_DISK || !GetFileSizeEx(handle_, &size)) {
    CloseHandle(handle_);
    throw PackerError(DescribeFailure(path, "is not a regular file", 0));
  }
  size_ = static_cast<uint64_t>(size.QuadPart);
}

HostReadFile::~HostReadFile() { CloseHandle(handle_); }

bool HostReadFile::ReadAt(uint64_t offset, void* buffer, size_t size) const {
  LARGE_INTEGER zero = {}, kept, at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(handle_, zero, &kept, FILE_CURRENT) ||
      !SetFilePointerEx(handle_, at, nullptr, FILE_BEGIN)) {
    return false;
  }
  size_t got = 0;
  while (got < size) {
    DWORD n = 0;
    if (!ReadFile(handle_, static_cast<char*>(buffer) + got, static_cast<DWORD>(size - got), &n,
                  nullptr) ||
        n == 0) {
      break;
    }
    got += n;
  }
  SetFilePointerEx(handle_, kept, nullptr, FILE_BEGIN);
  return got == size;
}

CurrentFolder::CurrentFolder(const std::string& folder) {
  wchar_t previous[32768];
  DWORD n = GetCurrentDirectoryW(32768, previous);
  if (n == 0 || n >= 32768) throw PackerError(DescribeFailure(".", "cannot tell folder", 0));
  previousPath_ = Utf8(previous, n);
  if (!SetCurrentDirectoryW(Wide(folder).c_str())) {
    throw PackerError(DescribeFailure(folder, "cannot enter folder", LastErrno()));
  }
}

CurrentFolder::~CurrentFolder() { SetCurrentDirectoryW(Wide(previousPath_).c_str()); }

// Windows matches names without regard to case by itself.
void MatchNamesInCodePage(const CodePage*) {}

// The setup's file calls take names in the ANSI code page of the machine.
std::string WrittenNameBytes(const std::string& name) {
  std::wstring wide = Wide(name);
  if (wide.empty()) return std::string();
  int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string bytes(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &bytes[0], n, nullptr,
                      nullptr);
  return bytes;
}

bool MakeHostFolder(const std::string& path, int* error) {
  if (CreateDirectoryW(Wide(path).c_str(), nullptr)) return true;
  *error = LastErrno();
  return false;
}

void WriteNewHostFile(const std::string& path, const std::string& bytes) {
  Handle file(CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) throw PackerError(DescribeFailure(path, "cannot create", LastErrno()));
  DWORD written = 0;
  if (!WriteFile(file.h, bytes.data(), DWORD(bytes.size()), &written, nullptr) ||
      written != bytes.size()) {
    throw PackerError(DescribeFailure(path, "cannot write", LastErrno()));
  }
}

bool RenameHost(const std::string& from, const std::string& to, int* error) {
  if (MoveFileW(Wide(from).c_str(), Wide(to).c_str())) return true;
  *error = LastErrno();
  return false;
}

namespace {

// The temporary file of the output being written, which Ctrl+C, Ctrl+Break
// or a closed console removes before the process ends.
wchar_t stagedPath[32768];
volatile LONG staged = 0;

BOOL WINAPI RemoveStaged(DWORD) {
  if (staged) DeleteFileW(stagedPath);
  return FALSE;  // and let the default handler end the process
}

void WatchStaged(const std::string& path) {
  std::wstring wide = Wide(path);
  if (wide.size() >= 32768) return;
  wcscpy(stagedPath, wide.c_str());
  staged = 1;
  SetConsoleCtrlHandler(RemoveStaged, TRUE);
}

void ForgetStaged() {
  staged = 0;
  SetConsoleCtrlHandler(RemoveStaged, FALSE);
}

}  // namespace

StagedFile::StagedFile(const std::string& finalPath) : finalPath_(finalPath) {
  // A name of our own in the same folder, so that the rename stays on one
  // volume; CREATE_NEW never takes over an existing file.
  std::string folder = FolderOf(finalPath);
  if (folder == ".") folder = "";
  HANDLE handle = INVALID_HANDLE_VALUE;
  for (unsigned n = 0; handle == INVALID_HANDLE_VALUE; ++n) {
    tempPath_ =
        folder + ".popbox-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(n);
    handle = CreateFileW(Wide(tempPath_).c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE && (GetLastError() != ERROR_FILE_EXISTS || n > 1000)) {
      throw PackerError(DescribeFailure(finalPath, "cannot create", LastErrno()));
    }
  }
  WatchStaged(tempPath_);
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_WRONLY);
  file_ = fd < 0 ? nullptr : _fdopen(fd, "wb");
  if (!file_) {
    if (fd < 0) {
      CloseHandle(handle);
    } else {
      _close(fd);
    }
    DeleteFileW(Wide(tempPath_).c_str());
    ForgetStaged();
    throw PackerError(DescribeFailure(finalPath, "cannot create", 0));
  }
}

StagedFile::~StagedFile() {
  if (file_) fclose(file_);
  if (!committed_) DeleteFileW(Wide(tempPath_).c_str());
  ForgetStaged();
}

void StagedFile::Commit() {
  bool ok = fflush(file_) == 0 &&
            FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file_))));
  ok = fclose(file_) == 0 && ok;
  file_ = nullptr;
  if (!ok) throw PackerError(DescribeFailure(finalPath_, "cannot write", EIO));
  if (!MoveFileExW(Wide(tempPath_).c_str(), Wide(finalPath_).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    throw PackerError(DescribeFailure(finalPath_, "cannot replace", LastErrno()));
  }
  committed_ = true;
  ForgetStaged();
}

}  // namespace popbox
