#include "tests/test_support.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#endif

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string capture(const std::function<void(std::FILE*)>& write) {
  TempDir dir;
  const fs::path path = dir / "captured";
  std::FILE* out = std::fopen(path.string().c_str(), "wb");
  if (out == nullptr) throw std::runtime_error("cannot create " + path.string());
  write(out);
  std::fclose(out);
  return read_file(path);
}

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    path_ = fs::temp_directory_path() /
            ("fmb2fxb-test-" + std::to_string(random()) + "-" + std::to_string(counter++));
    if (fs::create_directory(path_)) return;
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::vector<std::string> TempDir::entries() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(path_)) {
    names.push_back(entry.path().filename().u8string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

#ifdef _WIN32
// Beside the test program: a cross build's path may not be one that Windows (or Wine) knows.
std::string program_path() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return (fs::path(std::string(path, length)).parent_path() / FMB2FXB_PROGRAM_NAME).string();
}
#else
std::string program_path() {
  return FMB2FXB_PROGRAM;
}
#endif

using namespace std::string_literals;

const std::string kBankHeader = "CcnK\0\0\0\0FBCh\0\0\0\x01ZELK\0\0\0\x01\0\0\0\x80"s +
                                std::string(128, '\0') + "\0\0\x23\x80"s;
const std::string kZeroVoiceChunk = std::string(10, '\0') + "\xFF"s + std::string(60, '\0');

std::string bank_bytes(const std::function<void(unsigned char* record, int voice)>& fill) {
  std::string bytes(kBankImageSize, '\0');
  for (int voice = 0; voice < static_cast<int>(kVoiceCount); ++voice) {
    const std::size_t offset = kFileHeaderSize + static_cast<std::size_t>(voice) * kRecordSize;
    fill(reinterpret_cast<unsigned char*>(&bytes[offset]), voice);
  }
  return bytes;
}

#ifdef _WIN32
std::string as_stdout_text(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

namespace {

// One argument as the C runtime will split it back out of the command line.
std::wstring quote(const std::wstring& argument) {
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

HANDLE open_inheritable(const fs::path& path, DWORD access, DWORD creation) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE handle = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              creation, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open a stream file");
  return handle;
}

Result run_windows(const wchar_t* application, std::wstring command_line, const fs::path& folder,
                   const RunOptions& options) {
  TempDir streams;
  HANDLE input = open_inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
  HANDLE err = open_inheritable(streams / "err", GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE out = INVALID_HANDLE_VALUE;
  switch (options.stdout_mode) {
    case Stdout::kCaptured:
      out = open_inheritable(streams / "out", GENERIC_WRITE, CREATE_ALWAYS);
      break;
    case Stdout::kReaderGone: {
      SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
      HANDLE reader = INVALID_HANDLE_VALUE;
      if (!CreatePipe(&reader, &out, &inherit, 0)) throw std::runtime_error("CreatePipe");
      CloseHandle(reader);
      break;
    }
    case Stdout::kFull:
      // A handle opened for reading only: every write to it fails.
      out = open_inheritable(streams / "out", GENERIC_READ, CREATE_ALWAYS);
      break;
    default:
      throw std::runtime_error("this standard output has no Windows form");
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(application, &command_line[0], nullptr, nullptr, TRUE, 0, nullptr,
                      folder.c_str(), &startup, &process)) {
    throw std::runtime_error("cannot start a program");
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  CloseHandle(input);
  CloseHandle(out);
  CloseHandle(err);
  Result result;
  result.status = static_cast<int>(code);
  if (options.stdout_mode == Stdout::kCaptured) result.out = read_file(streams / "out");
  result.err = read_file(streams / "err");
  return result;
}

}  // namespace

std::wstring widen(const std::string& utf8) {
  return fs::u8path(utf8).wstring();
}

Result run_program(const fs::path& folder, const std::vector<std::string>& args,
                   const RunOptions& options) {
  const std::wstring program = widen(program_path());
  std::wstring command_line = quote(program);  // argument 0 is always given on Windows
  for (const std::string& arg : args) command_line += L" " + quote(widen(arg));
  return run_windows(program.c_str(), command_line, folder, options);
}

Result run_batch(const fs::path& folder, const std::string& batch) {
  return run_windows(nullptr, L"cmd.exe /c " + widen(batch), folder, {});
}
#else
std::string as_stdout_text(const std::string& text) {
  return text;
}

namespace {

std::string drain(int fd) {
  std::string bytes;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return bytes;
}

// A pseudo-terminal whose slave side passes bytes as they are (no CR before LF).
int open_terminal(std::string& slave) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    throw std::runtime_error("no pseudo-terminal");
  }
  slave = ptsname(master);
  return master;
}

void attach_terminal(const std::string& slave) {
  setsid();
  const int fd = open(slave.c_str(), O_RDWR);
  termios settings;
  if (fd < 0 || tcgetattr(fd, &settings) != 0) _exit(126);
  cfmakeraw(&settings);
  tcsetattr(fd, TCSANOW, &settings);
  dup2(fd, STDOUT_FILENO);
}

}  // namespace

Result run_program(const fs::path& folder, const std::vector<std::string>& args,
                   const RunOptions& options) {
  const std::string program = program_path();
  std::vector<std::string> words;
  if (!options.omit_argv0) words.push_back(options.argv0.empty() ? program : options.argv0);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);

  int out[2];
  int err[2];
  if (pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe");
  std::string slave;
  if (options.stdout_mode == Stdout::kTerminal) {
    close(out[0]);
    out[0] = open_terminal(slave);
  }
  if (options.stdout_mode == Stdout::kReaderGone) close(out[0]);
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(folder.c_str()) != 0) _exit(127);
    int target = out[1];
    if (options.stdout_mode == Stdout::kFull) target = open("/dev/full", O_WRONLY);
    dup2(target, STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    if (options.stdout_mode == Stdout::kTerminal) attach_terminal(slave);
    if (options.stdout_mode != Stdout::kReaderGone) close(out[0]);
    close(out[1]);
    close(err[0]);
    close(err[1]);
    if (options.file_size_limit >= 0) {
      const rlimit limit = {static_cast<rlim_t>(options.file_size_limit),
                            static_cast<rlim_t>(options.file_size_limit)};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.stdout_mode == Stdout::kClosed) {
      for (int fd = 0; fd <= 2; ++fd) close(fd);
    }
    if (options.pending_signal != 0) {
      sigset_t set;
      sigemptyset(&set);
      sigaddset(&set, options.pending_signal);
      sigprocmask(SIG_BLOCK, &set, nullptr);
      raise(options.pending_signal);
    }
    if (options.user >= 0) {
      const gid_t group = static_cast<gid_t>(options.user);
      if (setgroups(1, &group) != 0 || setgid(group) != 0 ||
          setuid(static_cast<uid_t>(options.user)) != 0) {
        _exit(126);
      }
    }
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  if (options.signal != 0) {
    if (options.signal_delay_us > 0) usleep(static_cast<useconds_t>(options.signal_delay_us));
    kill(child, options.signal);
  }
  Result result;
  if (options.stdout_mode != Stdout::kReaderGone) result.out = drain(out[0]);
  result.err = drain(err[0]);
  int status = 0;
  waitpid(child, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}
#endif

bool operator==(const Operator& a, const Operator& b) {
  return a.ar == b.ar && a.dr == b.dr && a.sr == b.sr && a.rr == b.rr && a.sl == b.sl &&
         a.tl == b.tl && a.ks == b.ks && a.ml == b.ml && a.dt == b.dt && a.ams == b.ams;
}

bool operator==(const Voice& a, const Voice& b) {
  return std::memcmp(a.name, b.name, kNameSize) == 0 && a.alg == b.alg && a.fb == b.fb &&
         a.pms == b.pms && a.ams == b.ams && a.pan == b.pan && a.op[0] == b.op[0] &&
         a.op[1] == b.op[1] && a.op[2] == b.op[2] && a.op[3] == b.op[3];
}

void PrintTo(const Voice& v, std::ostream* os) {
  *os << "{alg " << +v.alg << " fb " << +v.fb << " pms " << +v.pms << " ams " << +v.ams << " pan "
      << +v.pan;
  for (const Operator& op : v.op) {
    *os << " | ar " << +op.ar << " dr " << +op.dr << " sr " << +op.sr << " rr " << +op.rr << " sl "
        << +op.sl << " tl " << +op.tl << " ks " << +op.ks << " ml " << +op.ml << " dt " << +op.dt
        << " ams " << +op.ams;
  }
  *os << "}";
}
