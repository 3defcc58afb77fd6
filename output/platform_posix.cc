// The platform layer on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>

#include "output/platform.h"

namespace {

constexpr int kMaxLinkHops = 40;
constexpr int kMaxTempAttempts = 100;
constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

// The temporary file an interrupt must remove; `pending_armed` says whether there is one.
char pending_path[kPathMax];
volatile std::sig_atomic_t pending_armed = 0;

void on_interrupt(int signal_number) {
  if (pending_armed != 0) unlink(pending_path);
  // Blocked while this handler runs, the signal is delivered again, by default, on return.
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

sigset_t interrupt_set() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal_number : kInterrupts) sigaddset(&set, signal_number);
  return set;
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
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  action.sa_mask = interrupt_set();
  for (const int signal_number : kInterrupts) {
    struct sigaction previous {};
    // An interrupt the caller ignores (nohup, a background job) stays ignored.
    if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) {
      continue;
    }
    sigaction(signal_number, &action, nullptr);
  }
}

bool stdout_is_terminal() {
  return isatty(STDOUT_FILENO) != 0;
}

void print_path(std::FILE* out, const char* path) {
  for (const char* at = path; *at != '\0'; ++at) {
    const unsigned char byte = static_cast<unsigned char>(*at);
    std::fputc(byte < 0x20 || byte == 0x7F ? '?' : byte, out);
  }
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

int resolve_link(const char* name, char (&target)[kPathMax]) {
  if (!copy_path(target, name)) return ENAMETOOLONG;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat status;
    if (lstat(target, &status) != 0 || !S_ISLNK(status.st_mode)) return 0;
    if (!may_follow(target, status)) return EACCES;
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

int refuses_writing(const char* path) {
  if (access(path, F_OK) != 0 || access(path, W_OK) == 0) return 0;
  return errno;
}

std::FILE* create_temporary(const char* target, char (&temp)[kPathMax], SystemReason& reason) {
  struct stat status;
  const bool keep_mode = stat(target, &status) == 0;
  for (int attempt = 0; attempt < kMaxTempAttempts; ++attempt) {
    const int written = std::snprintf(temp, sizeof temp, "%s.%016llx.tmp", target,
                                      static_cast<unsigned long long>(random_bits()));
    if (written < 0 || static_cast<std::size_t>(written) >= sizeof temp) {
      set_errno_reason(reason, ENAMETOOLONG);
      return nullptr;
    }
    const int fd = open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) break;
    // The replacement keeps the permissions of the file it replaces.
    if (keep_mode) fchmod(fd, status.st_mode & 07777);
    std::FILE* stream = fdopen(fd, "wb");
    if (stream != nullptr) return stream;
    const int error = errno;
    close(fd);
    unlink(temp);
    errno = error;
    break;
  }
  const int error = errno;
  std::snprintf(reason.text, sizeof reason.text, "cannot create a temporary file beside it: %s",
                std::strerror(error));
  return nullptr;
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
  const sigset_t set = interrupt_set();
  sigprocmask(SIG_BLOCK, &set, nullptr);
}

void release_interrupts(const char* pending) {
  pending_armed = 0;
  if (pending != nullptr && copy_path(pending_path, pending)) pending_armed = 1;
  const sigset_t set = interrupt_set();
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

bool system_code_page_stem(const char*, char*, std::size_t, std::size_t&) {
  return false;
}
