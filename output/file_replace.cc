// Temporary files and rename-over, on POSIX systems and on Windows.
#include "output/file_replace.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr int kMaxTempAttempts = 100;
constexpr int kMaxLinkHops = 40;

bool copy_path(char (&dest)[kPathMax], const char* source) {
  const std::size_t length = std::strlen(source);
  if (length >= kPathMax) return false;
  std::memcpy(dest, source, length + 1);
  return true;
}

#ifdef _WIN32

void set_windows_reason(SystemReason& reason, DWORD error) {
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error, 0, reason.text, sizeof reason.text, nullptr);
  if (length == 0) {
    std::snprintf(reason.text, sizeof reason.text, "system error %lu", error);
    return;
  }
  // System messages end in a line end, which would break the one-line message.
  char* end = reason.text + length;
  while (end > reason.text && (end[-1] == '\r' || end[-1] == '\n' || end[-1] == ' ')) --end;
  *end = '\0';
}

// The identity of an existing file: its volume and index.
bool file_identity(const char* path, BY_HANDLE_FILE_INFORMATION& info) {
  HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const BOOL ok = GetFileInformationByHandle(handle, &info);
  CloseHandle(handle);
  return ok != 0;
}

// A symbolic link is written through: the target becomes the link's final path.
int resolve_target(const char* name, char (&target)[kPathMax]) {
  if (!copy_path(target, name)) return ENAMETOOLONG;
  const DWORD attributes = GetFileAttributesA(name);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return 0;
  }
  HANDLE handle = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return 0;
  char final_path[kPathMax];
  const DWORD length =
      GetFinalPathNameByHandleA(handle, final_path, kPathMax, FILE_NAME_NORMALIZED);
  CloseHandle(handle);
  if (length > 0 && length < kPathMax) copy_path(target, final_path);
  return 0;
}

int create_exclusive(const char* path, bool& exists_already) {
  const int fd = _open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  exists_already = fd < 0 && errno == EEXIST;
  return fd;
}

std::FILE* stream_from(int fd) {
  return _fdopen(fd, "wb");
}

// A read-only target is refused before this, and a new file needs no other attributes.
void keep_mode(int, const char*) {}

void close_descriptor(int fd) {
  _close(fd);
}

bool target_refuses_writing(const char* path, int& error) {
  if (_access(path, 0) != 0 || _access(path, 2) == 0) return false;
  error = EACCES;
  return true;
}

bool rename_over(const char* from, const char* to, SystemReason& reason) {
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0) return true;
  set_windows_reason(reason, GetLastError());
  return false;
}

#else

int resolve_target(const char* name, char (&target)[kPathMax]) {
  if (!copy_path(target, name)) return ENAMETOOLONG;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat status;
    if (lstat(target, &status) != 0 || !S_ISLNK(status.st_mode)) return 0;
    char link[kPathMax];
    const ssize_t length = readlink(target, link, sizeof link - 1);
    if (length < 0) return 0;
    link[length] = '\0';
    // A relative link is relative to the folder that holds it.
    const char* slash = std::strrchr(target, '/');
    if (link[0] == '/' || slash == nullptr) {
      if (!copy_path(target, link)) return ENAMETOOLONG;
      continue;
    }
    const std::size_t folder = static_cast<std::size_t>(slash - target) + 1;
    if (folder + static_cast<std::size_t>(length) >= kPathMax) return ENAMETOOLONG;
    std::memcpy(target + folder, link, static_cast<std::size_t>(length) + 1);
  }
  return ELOOP;
}

int create_exclusive(const char* path, bool& exists_already) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL, 0666);
  exists_already = fd < 0 && errno == EEXIST;
  return fd;
}

std::FILE* stream_from(int fd) {
  return fdopen(fd, "wb");
}

void close_descriptor(int fd) {
  close(fd);
}

bool target_refuses_writing(const char* path, int& error) {
  if (access(path, F_OK) != 0 || access(path, W_OK) == 0) return false;
  error = errno;
  return true;
}

bool rename_over(const char* from, const char* to, SystemReason& reason) {
  if (std::rename(from, to) == 0) return true;
  set_errno_reason(reason, errno);
  return false;
}

// The replacement keeps the permissions of the file it replaces.
void keep_mode(int fd, const char* target) {
  struct stat status;
  if (stat(target, &status) == 0) fchmod(fd, status.st_mode & 07777);
}

#endif

}  // namespace

void set_errno_reason(SystemReason& reason, int error) {
  std::snprintf(reason.text, sizeof reason.text, "%s", std::strerror(error));
}

bool same_file(const char* a, const char* b) {
#ifdef _WIN32
  BY_HANDLE_FILE_INFORMATION first;
  BY_HANDLE_FILE_INFORMATION second;
  return file_identity(a, first) && file_identity(b, second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
#else
  struct stat first;
  struct stat second;
  return stat(a, &first) == 0 && stat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
#endif
}

bool begin_replace(const char* name, PendingFile& file, SystemReason& reason) {
  file.stream = nullptr;
  int error = resolve_target(name, file.target_path);
  if (error != 0 || target_refuses_writing(file.target_path, error)) {
    set_errno_reason(reason, error);
    return false;
  }
  for (int attempt = 0; attempt < kMaxTempAttempts; ++attempt) {
    const int written = std::snprintf(file.temp_path, sizeof file.temp_path, "%s.%d.tmp",
                                      file.target_path, attempt);
    if (written < 0 || static_cast<std::size_t>(written) >= sizeof file.temp_path) {
      set_errno_reason(reason, ENAMETOOLONG);
      return false;
    }
    bool exists_already = false;
    const int fd = create_exclusive(file.temp_path, exists_already);
    if (exists_already) continue;
    if (fd < 0) {
      set_errno_reason(reason, errno);
      return false;
    }
    keep_mode(fd, file.target_path);
    file.stream = stream_from(fd);
    if (file.stream == nullptr) {
      set_errno_reason(reason, errno);
      close_descriptor(fd);
      std::remove(file.temp_path);
      return false;
    }
    return true;
  }
  set_errno_reason(reason, EEXIST);
  return false;
}

bool finish_replace(PendingFile& file, SystemReason& reason) {
  const int closed = std::fclose(file.stream);
  file.stream = nullptr;
  if (closed != 0) {
    set_errno_reason(reason, errno);
    std::remove(file.temp_path);
    return false;
  }
  if (!rename_over(file.temp_path, file.target_path, reason)) {
    std::remove(file.temp_path);
    return false;
  }
  return true;
}

void abandon_replace(PendingFile& file) {
  if (file.stream != nullptr) std::fclose(file.stream);
  file.stream = nullptr;
  std::remove(file.temp_path);
}
