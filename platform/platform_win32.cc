// The platform layer on Windows. Paths come in as UTF-8 and go to the wide forms of the
// system calls, so no name is ever passed through a best-fit conversion.
#define _CRT_RAND_S  // rand_s: the system's random numbers, with no DLL of their own
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace {

constexpr int kMaxTempAttempts = 100;
constexpr std::size_t kWideMax = 32768;  // the longest path or command line Windows takes

// The temporary file an interrupt must remove, guarded by `interrupt_lock`: the console's
// handler runs in a thread of its own.
SRWLOCK interrupt_lock = SRWLOCK_INIT;
wchar_t pending_path[kWideMax];
bool pending_armed = false;

struct WidePath {
  wchar_t text[kWideMax];
};

// False when `utf8` does not fit.
bool to_wide(const char* utf8, WidePath& wide) {
  return MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide.text, kWideMax) > 0;
}

bool to_utf8(const wchar_t* wide, int wide_length, char* utf8, std::size_t size) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide, wide_length, utf8,
                                         static_cast<int>(size), nullptr, nullptr);
  return length > 0 || wide_length == 0;
}

void set_windows_reason(SystemReason& reason, DWORD error) {
  // A refusal is told apart from other failures as on POSIX.
  reason.error = error == ERROR_ACCESS_DENIED ? EACCES : 0;
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

BOOL WINAPI on_console_event(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
    AcquireSRWLockExclusive(&interrupt_lock);
    if (pending_armed) DeleteFileW(pending_path);
    pending_armed = false;
    // Held from here on: the run goes no further before the default handler ends it.
  }
  return FALSE;
}

HANDLE open_existing(const char* path) {
  WidePath wide;
  if (!to_wide(path, wide)) return INVALID_HANDLE_VALUE;
  return CreateFileW(wide.text, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// What `path` names: a folder, a file on a disk, or something else (a device such as NUL).
FileKind kind_of(const char* path) {
  WidePath wide;
  const DWORD attributes =
      to_wide(path, wide) ? GetFileAttributesW(wide.text) : INVALID_FILE_ATTRIBUTES;
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return FileKind::kFolder;
  }
  // Opened for no access at all, a device neither waits nor changes.
  HANDLE handle = open_existing(path);
  if (handle == INVALID_HANDLE_VALUE) {
    return attributes == INVALID_FILE_ATTRIBUTES ? FileKind::kMissing : FileKind::kRegular;
  }
  const DWORD type = GetFileType(handle);
  CloseHandle(handle);
  return type == FILE_TYPE_DISK ? FileKind::kRegular : FileKind::kOther;
}

// An untranslated stream for writing over an open handle; the handle is closed on failure.
std::FILE* stream_for(HANDLE handle) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  std::FILE* stream = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
  if (stream != nullptr) return stream;
  if (fd >= 0) {
    _close(fd);
  } else {
    CloseHandle(handle);
  }
  return nullptr;
}

// The identity of an existing file: its volume and index.
bool file_identity(const char* path, BY_HANDLE_FILE_INFORMATION& info) {
  HANDLE handle = open_existing(path);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const BOOL ok = GetFileInformationByHandle(handle, &info);
  CloseHandle(handle);
  return ok != 0;
}

// `utf8` in the system code page, or in its best approximation with "?" where `exact` is
// false: true when every character was held exactly.
bool to_code_page(const char* utf8, char* bytes, int size, bool exact) {
  static WidePath wide;
  if (!to_wide(utf8, wide)) return false;
  BOOL used_default = FALSE;
  const bool utf8_system = GetACP() == CP_UTF8;  // takes neither flags nor a default character
  const int length = WideCharToMultiByte(CP_ACP, utf8_system ? 0 : WC_NO_BEST_FIT_CHARS, wide.text,
                                         -1, bytes, size, exact || utf8_system ? nullptr : "?",
                                         utf8_system ? nullptr : &used_default);
  if (length <= 0 || (exact && used_default)) return false;
  // A code page may still map a character to one that reads back as another.
  static WidePath back;
  return !exact || (MultiByteToWideChar(CP_ACP, 0, bytes, -1, back.text, kWideMax) > 0 &&
                    wcscmp(back.text, wide.text) == 0);
}

}  // namespace

int run_with_utf8_arguments(int argc, wchar_t** argv, int (*run)(int, char**)) {
  // A command line holds at most 32767 characters, each at most 3 bytes of UTF-8.
  static char bytes[3 * kWideMax + 3];
  static char* utf8_argv[3] = {};
  const int count = argc < 2 ? argc : 2;  // only the program and the source are read
  char* at = bytes;
  for (int i = 0; i < count; ++i) {
    utf8_argv[i] = at;
    const std::size_t room = sizeof bytes - static_cast<std::size_t>(at - bytes);
    if (!to_utf8(argv[i], -1, at, room)) *at = '\0';
    at += std::strlen(at) + 1;
  }
  return run(count, utf8_argv);
}

void prepare_process() {
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

bool stdout_is_terminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

bool print_to_console(std::initializer_list<MessagePart> parts) {
  DWORD mode = 0;
  HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
  if (GetConsoleMode(console, &mode) == 0) return false;
  // A console takes UTF-16 whatever its code page: the line goes out whole, after what the
  // stream still holds.
  static wchar_t line[2 * kWideMax + 1024];
  const std::size_t room = sizeof line / sizeof line[0] - 2;
  std::size_t length = 0;
  for (const MessagePart& part : parts) {
    const int count = MultiByteToWideChar(part.is_path ? CP_UTF8 : CP_ACP, 0, part.text, -1,
                                          line + length, static_cast<int>(room - length));
    if (count <= 1) continue;
    const std::size_t end = length + static_cast<std::size_t>(count) - 1;
    for (; part.is_path && length < end; ++length) {
      if (line[length] < 0x20 || (line[length] >= 0x7F && line[length] <= 0x9F)) {
        line[length] = L'?';
      }
    }
    length = end;
  }
  line[length++] = L'\r';
  line[length++] = L'\n';
  std::fflush(stdout);
  DWORD written = 0;
  WriteConsoleW(console, line, static_cast<DWORD>(length), &written, nullptr);
  return true;
}

const char* path_for_messages(const char* path) {
  static char shown[2 * kWideMax];
  if (!to_code_page(path, shown, sizeof shown, false)) {
    std::snprintf(shown, sizeof shown, "%s", path);
  }
  return shown;
}

std::FILE* open_for_reading(const char* path) {
  WidePath wide;
  if (!to_wide(path, wide)) {
    errno = ENAMETOOLONG;
    return nullptr;
  }
  return _wfopen(wide.text, L"rb");
}

bool same_file(const char* a, const char* b) {
  BY_HANDLE_FILE_INFORMATION first;
  BY_HANDLE_FILE_INFORMATION second;
  return file_identity(a, first) && file_identity(b, second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh &&
         first.nFileIndexLow == second.nFileIndexLow;
}

// A symbolic link is written through: the target becomes the link's final path.
int resolve_link(const char* name, char (&target)[kPathMax], FileKind& kind) {
  kind = FileKind::kMissing;
  const std::size_t length = std::strlen(name);
  if (length >= kPathMax) return ENAMETOOLONG;
  std::memcpy(target, name, length + 1);
  WidePath wide;
  if (!to_wide(name, wide)) return ENAMETOOLONG;
  const DWORD attributes = GetFileAttributesW(wide.text);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    HANDLE handle = open_existing(name);
    if (handle != INVALID_HANDLE_VALUE) {
      WidePath final_path;
      const DWORD final_length =
          GetFinalPathNameByHandleW(handle, final_path.text, kWideMax, FILE_NAME_NORMALIZED);
      CloseHandle(handle);
      if (final_length != 0 && final_length < kWideMax &&
          !to_utf8(final_path.text, -1, target, kPathMax)) {
        return ENAMETOOLONG;
      }
    }
  }
  kind = kind_of(target);
  return 0;
}

int refuses_writing(const char* path) {
  WidePath wide;
  if (!to_wide(path, wide)) return ENAMETOOLONG;
  const DWORD attributes = GetFileAttributesW(wide.text);
  const bool read_only = attributes != INVALID_FILE_ATTRIBUTES &&
                         (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
                         (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  return read_only ? EACCES : 0;
}

// A read-only target is refused before this; the attributes follow in copy_attributes.
std::FILE* create_temporary(const char* target, bool, char (&temp)[kPathMax],
                            SystemReason& reason) {
  // The temporary name keeps at most this many bytes of the target's own name, cut on a
  // character, so that with its 21 more it fits the 255 characters a name may have.
  constexpr std::size_t kKeptNameMax = 255 - 21;
  const char* base = std::strrchr(target, '\\');
  const char* slash = std::strrchr(target, '/');
  if (base == nullptr || (slash != nullptr && slash > base)) base = slash;
  base = base == nullptr ? target : base + 1;
  std::size_t kept = std::strlen(target);
  if (kept - static_cast<std::size_t>(base - target) > kKeptNameMax) {
    kept = static_cast<std::size_t>(base - target) + kKeptNameMax;
    while ((static_cast<unsigned char>(target[kept]) & 0xC0) == 0x80) --kept;
  }
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < kMaxTempAttempts && error == ERROR_FILE_EXISTS; ++attempt) {
    unsigned int high = 0;
    unsigned int low = 0;
    if (rand_s(&high) != 0 || rand_s(&low) != 0) {
      high = GetTickCount() ^ GetCurrentProcessId();
      low = static_cast<unsigned int>(attempt) * 0x9E3779B9u;
    }
    const int written = std::snprintf(temp, sizeof temp, "%.*s.%08x%08x.tmp",
                                      static_cast<int>(kept), target, high, low);
    WidePath wide;
    if (written < 0 || static_cast<std::size_t>(written) >= sizeof temp || !to_wide(temp, wide)) {
      set_errno_reason(reason, ENAMETOOLONG);
      return nullptr;
    }
    // Shared for deletion, so that an interrupt can remove it while it is open.
    HANDLE handle = CreateFileW(wide.text, GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      error = GetLastError();
      continue;
    }
    std::FILE* stream = stream_for(handle);
    if (stream != nullptr) return stream;
    DeleteFileW(wide.text);
    error = ERROR_NOT_ENOUGH_MEMORY;
  }
  SystemReason cause;
  set_windows_reason(cause, error);
  reason.error = cause.error;
  std::snprintf(reason.text, sizeof reason.text, "cannot create a temporary file beside it: %s",
                cause.text);
  return nullptr;
}

bool copy_attributes(std::FILE* temp, const char* target, SystemReason& reason) {
  constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  WidePath wide;
  if (!to_wide(target, wide)) {
    set_errno_reason(reason, ENAMETOOLONG);
    return false;
  }
  const DWORD attributes = GetFileAttributesW(wide.text);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    set_windows_reason(reason, GetLastError());
    return false;
  }
  // Zero times leave the times as they are; no attribute at all is written as "normal".
  FILE_BASIC_INFO info{};
  info.FileAttributes = (attributes & kKept) != 0 ? attributes & kKept : FILE_ATTRIBUTE_NORMAL;
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(temp)));
  if (SetFileInformationByHandle(handle, FileBasicInfo, &info, sizeof info) != 0) return true;
  set_windows_reason(reason, GetLastError());
  return false;
}

std::FILE* open_in_place(const char* target) {
  WidePath wide;
  if (!to_wide(target, wide)) return nullptr;
  HANDLE handle = CreateFileW(wide.text, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return nullptr;
  }
  return stream_for(handle);
}

bool close_in_place(std::FILE* stream) {
  // Closing may still write what the stream holds: the position is read after it, through a
  // second descriptor that shares it.
  const int fd = _dup(_fileno(stream));
  std::fclose(stream);
  if (fd < 0) return true;
  const bool written = _lseeki64(fd, 0, SEEK_CUR) != 0;
  _close(fd);
  return written;
}

bool truncate_here(std::FILE* stream, SystemReason& reason) {
  if (std::fflush(stream) != 0) {
    set_errno_reason(reason, errno);
    return false;
  }
  const int fd = _fileno(stream);
  const long long end = _lseeki64(fd, 0, SEEK_CUR);
  const int error = end < 0 ? errno : _chsize_s(fd, end);
  if (error == 0) return true;
  set_errno_reason(reason, error);
  return false;
}

bool sync_and_close(std::FILE* stream, SystemReason& reason) {
  int error = 0;
  DWORD system_error = 0;
  if (std::fflush(stream) != 0 || std::ferror(stream)) {
    error = errno != 0 ? errno : EIO;
  } else if (!FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))))) {
    system_error = GetLastError();
  }
  if (std::fclose(stream) != 0 && error == 0 && system_error == 0) error = errno;
  if (system_error != 0) {
    set_windows_reason(reason, system_error);
    return false;
  }
  if (error != 0) set_errno_reason(reason, error);
  return error == 0;
}

bool rename_over(const char* from, const char* to, SystemReason& reason) {
  static WidePath wide_from;
  static WidePath wide_to;
  if (!to_wide(from, wide_from) || !to_wide(to, wide_to)) {
    set_errno_reason(reason, ENAMETOOLONG);
    return false;
  }
  // Written through: the move is on the disk when the call returns.
  if (MoveFileExW(wide_from.text, wide_to.text,
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
    return true;
  }
  set_windows_reason(reason, GetLastError());
  return false;
}

bool sync_folder(const char*, SystemReason&) {
  return true;  // the move was written through
}

bool remove_file(const char* path) {
  WidePath wide;
  return to_wide(path, wide) && DeleteFileW(wide.text) != 0;
}

void hold_interrupts() {
  AcquireSRWLockExclusive(&interrupt_lock);
}

void release_interrupts(const char* pending) {
  pending_armed = false;
  if (pending != nullptr) {
    pending_armed = MultiByteToWideChar(CP_UTF8, 0, pending, -1, pending_path, kWideMax) > 0;
  }
  ReleaseSRWLockExclusive(&interrupt_lock);
}

bool to_system_code_page(const char* text, char (&bytes)[kCodePagePathMax]) {
  // A system that runs in UTF-8 is cut as UTF-8.
  return GetACP() != CP_UTF8 && to_code_page(text, bytes, sizeof bytes, true);
}

std::size_t system_char_length(const char* bytes) {
  return IsDBCSLeadByte(static_cast<BYTE>(bytes[0])) && bytes[1] != '\0' ? 2 : 1;
}

std::size_t system_code_page_to_utf8(const char* bytes, std::size_t length, char* utf8,
                                     std::size_t size) {
  static WidePath wide;
  const int wide_length =
      MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(length), wide.text, kWideMax);
  const int utf8_length = wide_length > 0
                              ? WideCharToMultiByte(CP_UTF8, 0, wide.text, wide_length, utf8,
                                                    static_cast<int>(size), nullptr, nullptr)
                              : 0;
  return utf8_length > 0 ? static_cast<std::size_t>(utf8_length) : 0;
}
