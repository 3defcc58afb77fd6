// The platform layer on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace {

constexpr int kMaxLinkHops = 40;
constexpr int kMaxTempAttempts = 100;
constexpr long kUsualNameMax = 255;
// ".<16 hex digits>.tmp" after the target's name.
constexpr std::size_t kTempSuffixSize = 21;

// Signals whose default action ends the process, less those that stay ignored (SIGPIPE,
// SIGXFSZ) and those a fault in the program itself raises. Real-time signals come on top.
constexpr int kEndingSignals[] = {
    SIGHUP,    SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU,
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

// The temporary file a signal must remove; `pending_armed` says whether there is one.
char pending_path[kPathMax];
volatile std::sig_atomic_t pending_armed = 0;

// The signals held while the temporary file is made, renamed or removed, and the caller's
// mask to come back to.
sigset_t ending_set;
sigset_t caller_mask;
bool held = false;

void on_ending_signal(int signal_number) {
  if (pending_armed != 0) unlink(pending_path);
  // Blocked while this handler runs, the signal is delivered again, by default, on return.
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

// Handles `signal_number` unless the caller ignores it (nohup, a background job). A signal
// the system will not let us handle (some real-time ones) is simply left alone.
void handle_unless_ignored(int signal_number, const struct sigaction& action) {
  struct sigaction previous {};
  if (sigaction(signal_number, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) return;
  sigaction(signal_number, &action, nullptr);
}

bool copy_path(char (&dest)[kPathMax], const char* source) {
  const std::size_t length = std::strlen(source);
  if (length >= kPathMax) return false;
  std::memcpy(dest, source, length + 1);
  return true;
}

// The folder that holds `path`, for stat and open: "." for a bare name.
void folder_of(const char* path, char (&folder)[kPathMax]) {
  copy_path(folder, path);
  char* slash = std::strrchr(folder, '/');
  if (slash == nullptr) {
    std::memcpy(folder, ".", 2);
  } else {
    slash[slash == folder ? 1 : 0] = '\0';
  }
}

// The kernel's protected-symlinks rule: in a sticky, world-writable folder a link is followed
// only when it belongs to the follower or to the folder's owner.
bool may_follow(const char* link, const struct stat& link_status) {
  char folder[kPathMax];
  folder_of(link, folder);
  struct stat status;
  if (stat(folder, &status) != 0) return true;
  const bool shared = (status.st_mode & S_ISVTX) != 0 && (status.st_mode & S_IWOTH) != 0;
  return !shared || link_status.st_uid == geteuid() || link_status.st_uid == status.st_uid;
}

FileKind kind_of(mode_t mode) {
  return S_ISREG(mode) ? FileKind::kRegular : S_ISDIR(mode) ? FileKind::kFolder : FileKind::kOther;
}

// 64 unpredictable bits from the system; a clock and the process id where there is none.
std::uint64_t random_bits() {
  std::uint64_t bits = 0;
  const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    const bool got = read(fd, &bits, sizeof bits) == static_cast<ssize_t>(sizeof bits);
    close(fd);
    if (got) return bits;
  }
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  static std::uint64_t counter = 0;
  return (static_cast<std::uint64_t>(now.tv_nsec) << 20) ^ static_cast<std::uint64_t>(now.tv_sec) ^
         (static_cast<std::uint64_t>(getpid()) << 40) ^ ++counter * 0x9E3779B97F4A7C15u;
}

// How many bytes of the target's own name the temporary name keeps, so that it fits the
// longest name the folder takes.
std::size_t kept_name_bytes(const char* target, std::size_t name_bytes) {
  char folder[kPathMax];
  folder_of(target, folder);
  long name_max = pathconf(folder, _PC_NAME_MAX);
  if (name_max <= 0) name_max = kUsualNameMax;
  const std::size_t room = static_cast<std::size_t>(name_max);
  if (name_bytes + kTempSuffixSize <= room) return name_bytes;
  return room > kTempSuffixSize ? room - kTempSuffixSize : 1;
}

bool fail(SystemReason& reason, const char* what, int error) {
  reason.error = error;
  std::snprintf(reason.text, sizeof reason.text, "%s%s", what, std::strerror(error));
  return false;
}

#ifdef __linux__
// Extended attributes are at most 64 KiB each, and so is the list of their names.
constexpr std::size_t kAttributeMax = 65536;
constexpr char kAccessAcl[] = "system.posix_acl_access";
char attribute_names[kAttributeMax];
char attribute_value[kAttributeMax];

// The access ACL is part of the permissions: it is kept, or the replacement fails. One the
// folder's default ACL gave the new file goes when the earlier file had none.
bool copy_access_acl(int fd, const char* target, SystemReason& reason) {
  const ssize_t size = getxattr(target, kAccessAcl, attribute_value, sizeof attribute_value);
  if (size >= 0) {
    if (fsetxattr(fd, kAccessAcl, attribute_value, static_cast<std::size_t>(size), 0) == 0) {
      return true;
    }
    return fail(reason, "cannot give the new bank the earlier one's ACL: ", errno);
  }
  if (errno != ENODATA && errno != ENOTSUP) {
    return fail(reason, "cannot read the earlier bank's ACL: ", errno);
  }
  if (fremovexattr(fd, kAccessAcl) == 0 || errno == ENODATA || errno == ENOTSUP) return true;
  return fail(reason, "cannot give the new bank the earlier one's ACL: ", errno);
}

// user.* attributes are the user's own notes on the file; others (security.*, trusted.*)
// are never copied. Any that cannot be read or set are left as they come.
void copy_user_attributes(int fd, const char* target) {
  const ssize_t length = listxattr(target, attribute_names, sizeof attribute_names);
  for (ssize_t at = 0; at < length;) {
    const char* name = attribute_names + at;
    at += static_cast<ssize_t>(std::strlen(name)) + 1;
    if (std::strncmp(name, "user.", 5) != 0) continue;
    const ssize_t size = getxattr(target, name, attribute_value, sizeof attribute_value);
    if (size >= 0) fsetxattr(fd, name, attribute_value, static_cast<std::size_t>(size), 0);
  }
}
#else
bool copy_access_acl(int, const char*, SystemReason&) {
  return true;
}
void copy_user_attributes(int, const char*) {}
#endif

}  // namespace

void prepare_process() {
  // Whatever opens a file next must not become standard output.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open("/dev/null", O_RDWR) != fd) break;
  }
  // A reader that stops early must not kill the run before the bank is written, nor a file
  // size limit kill it halfway: both become failed writes.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  sigemptyset(&ending_set);
  for (const int signal_number : kEndingSignals) sigaddset(&ending_set, signal_number);
#ifdef SIGRTMIN
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
    sigaddset(&ending_set, signal_number);
  }
#endif
  struct sigaction action {};
  action.sa_handler = on_ending_signal;
  action.sa_mask = ending_set;
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    if (sigismember(&ending_set, signal_number) == 1) handle_unless_ignored(signal_number, action);
  }
}

bool stdout_is_terminal() {
  return isatty(STDOUT_FILENO) != 0;
}

bool print_to_console(std::initializer_list<MessagePart>) {
  return false;
}

const char* path_for_messages(const char* path) {
  return path;
}

std::FILE* open_for_reading(const char* path) {
  return std::fopen(path, "rb");
}

bool same_file(const char* a, const char* b) {
  struct stat first;
  struct stat second;
  return stat(a, &first) == 0 && stat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

int resolve_link(const char* name, char (&target)[kPathMax], FileKind& kind) {
  kind = FileKind::kMissing;
  if (!copy_path(target, name)) return ENAMETOOLONG;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat status;
    if (lstat(target, &status) != 0) return errno == ENOENT ? 0 : errno;
    if (!S_ISLNK(status.st_mode)) {
      kind = kind_of(status.st_mode);
      return 0;
    }
    if (!may_follow(target, status)) return EACCES;
    char link[kPathMax];
    const ssize_t length = readlink(target, link, sizeof link - 1);
    if (length < 0) return errno;
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

int refuses_writing(const char* path) {
  if (access(path, F_OK) != 0 || access(path, W_OK) == 0) return 0;
  return errno;
}

std::FILE* create_temporary(const char* target, bool replacing, char (&temp)[kPathMax],
                            SystemReason& reason) {
  const char* slash = std::strrchr(target, '/');
  const std::size_t folder_bytes =
      slash == nullptr ? 0 : static_cast<std::size_t>(slash - target) + 1;
  const std::size_t name_bytes = kept_name_bytes(target, std::strlen(target) - folder_bytes);
  int error = EEXIST;
  for (int attempt = 0; attempt < kMaxTempAttempts && error == EEXIST; ++attempt) {
    const int written = std::snprintf(temp, sizeof temp, "%.*s.%016llx.tmp",
                                      static_cast<int>(folder_bytes + name_bytes), target,
                                      static_cast<unsigned long long>(random_bits()));
    if (written < 0 || static_cast<std::size_t>(written) >= sizeof temp) {
      error = ENAMETOOLONG;
      break;
    }
    // A replacement is only the user's until it has the earlier file's permissions.
    const int fd = open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, replacing ? 0600 : 0666);
    if (fd < 0) {
      error = errno;
      continue;
    }
    std::FILE* stream = fdopen(fd, "wb");
    if (stream != nullptr) return stream;
    error = errno;
    close(fd);
    unlink(temp);
  }
  fail(reason, "cannot create a temporary file beside it: ", error);
  return nullptr;
}

bool copy_attributes(std::FILE* temp, const char* target, SystemReason& reason) {
  const int fd = fileno(temp);
  struct stat status;
  if (stat(target, &status) != 0) return fail(reason, "", errno);
  // Owner and group first, while the file is still only ours. A user who may not give a file
  // away (anyone but root) keeps at least the group, where the user belongs to it.
  if (fchown(fd, status.st_uid, status.st_gid) != 0 &&
      fchown(fd, static_cast<uid_t>(-1), status.st_gid) != 0) {
    // Left with the user's own group: the system does not let it be given away.
  }
  if (!copy_access_acl(fd, target, reason)) return false;
  copy_user_attributes(fd, target);
  // Never set-user-ID or set-group-ID: a bank is no program, and a planted bit would stay.
  if (fchmod(fd, status.st_mode & (S_ISVTX | S_IRWXU | S_IRWXG | S_IRWXO)) != 0) {
    return fail(reason, "cannot give the new bank the earlier one's permissions: ", errno);
  }
  return true;
}

std::FILE* open_in_place(const char* target) {
  // Not following a link that appeared since, nor waiting on a FIFO put in its place.
  const int fd = open(target, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  // Checked again on the open file: a link or a FIFO may have taken the name since.
  struct stat status;
  std::FILE* stream =
      fstat(fd, &status) == 0 && S_ISREG(status.st_mode) ? fdopen(fd, "wb") : nullptr;
  if (stream == nullptr) close(fd);
  return stream;
}

bool close_in_place(std::FILE* stream) {
  // Closing may still write what the stream holds: the position is read after it, through a
  // second descriptor that shares it.
  const int fd = dup(fileno(stream));
  std::fclose(stream);
  if (fd < 0) return true;
  const bool written = lseek(fd, 0, SEEK_CUR) != 0;
  close(fd);
  return written;
}

bool truncate_here(std::FILE* stream, SystemReason& reason) {
  if (std::fflush(stream) != 0) return fail(reason, "", errno);
  const off_t end = lseek(fileno(stream), 0, SEEK_CUR);
  if (end < 0 || ftruncate(fileno(stream), end) != 0) return fail(reason, "", errno);
  return true;
}

bool sync_and_close(std::FILE* stream, SystemReason& reason) {
  int error = 0;
  if (std::fflush(stream) != 0 || std::ferror(stream)) {
    error = errno != 0 ? errno : EIO;
  } else if (fsync(fileno(stream)) != 0) {
    error = errno;
  }
  if (std::fclose(stream) != 0 && error == 0) error = errno;
  if (error != 0) set_errno_reason(reason, error);
  return error == 0;
}

bool rename_over(const char* from, const char* to, SystemReason& reason) {
  if (std::rename(from, to) == 0) return true;
  set_errno_reason(reason, errno);
  return false;
}

bool sync_folder(const char* path, SystemReason& reason) {
  char folder[kPathMax];
  folder_of(path, folder);
  const int fd = open(folder, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  const bool synced = fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP || errno == EROFS;
  if (!synced) set_errno_reason(reason, errno);
  close(fd);
  return synced;
}

bool remove_file(const char* path) {
  return unlink(path) == 0;
}

void hold_interrupts() {
  held = sigprocmask(SIG_BLOCK, &ending_set, &caller_mask) == 0;
}

void release_interrupts(const char* pending) {
  pending_armed = 0;
  if (pending != nullptr && copy_path(pending_path, pending)) pending_armed = 1;
  // Back to the caller's own mask: a signal the caller blocked stays blocked.
  if (held) sigprocmask(SIG_SETMASK, &caller_mask, nullptr);
  held = false;
}

bool to_system_code_page(const char*, char (&)[kCodePagePathMax]) {
  return false;
}

std::size_t system_char_length(const char*) {
  return 1;
}

std::size_t system_code_page_to_utf8(const char*, std::size_t, char*, std::size_t) {
  return 0;
}
