// Helpers for the tests: files, temporary folders and runs of the built program.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "bank/source_bank.h"

namespace fs = std::filesystem;

std::string read_file(const fs::path& path);
void write_file(const fs::path& path, const std::string& bytes);

// What a function writes to a stream, captured through a binary temporary file.
std::string capture(const std::function<void(std::FILE*)>& write);

// A new empty folder, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }
  // `name` in UTF-8, on every system.
  fs::path operator/(const std::string& name) const { return path_ / fs::u8path(name); }
  // The names of the entries in the folder in UTF-8, sorted.
  std::vector<std::string> entries() const;

 private:
  fs::path path_;
};

enum class Stdout {
  kCaptured,    // read back into Result::out
  kReaderGone,  // a pipe whose reader has already closed it
  kFull,        // a device on which every write fails
  kTerminal,    // a pseudo-terminal that passes bytes untranslated (POSIX only)
  kClosed,      // descriptors 0, 1 and 2 all closed (POSIX only)
};

struct RunOptions {
  Stdout stdout_mode = Stdout::kCaptured;
  long file_size_limit = -1;  // bytes a written file may reach; -1 for no limit
  bool omit_argv0 = false;    // start with an empty argument list (POSIX only)
  std::string argv0;          // argument 0 instead of the program's path (POSIX only)
  int signal = 0;             // sent to the program after `signal_delay_us` (POSIX only)
  long signal_delay_us = 0;
  int pending_signal = 0;  // blocked and pending when the program starts (POSIX only)
  long user = -1;          // run as this user and group id, not as ours (POSIX, root only)
};

struct Result {
  int status;  // the exit status, or 128 + the signal that ended the program
  std::string out;
  std::string err;
};

// The built converter's path, and a run of it in `folder` with `args` after argument 0.
std::string program_path();
Result run_program(const fs::path& folder, const std::vector<std::string>& args,
                   const RunOptions& options = {});

#ifdef _WIN32
std::wstring widen(const std::string& utf8);
// A batch file in `folder` run by cmd.exe; its output and exit status.
Result run_batch(const fs::path& folder, const std::string& batch);
#endif

// A source bank image as bytes: 6152 zero bytes with `voice`'s record filled by `fill`.
std::string bank_bytes(const std::function<void(unsigned char* record, int voice)>& fill);

// The bank header as the format gives it: tags, versions, 128 programs, 128 zero bytes, 9088.
extern const std::string kBankHeader;
// The chunk of an all-zero voice: nothing but the 0xFF marker at byte 10.
extern const std::string kZeroVoiceChunk;

// Text with every line end written as the platform's standard output writes it.
std::string as_stdout_text(const std::string& text);

bool operator==(const Operator& a, const Operator& b);
bool operator==(const Voice& a, const Voice& b);
void PrintTo(const Voice& voice, std::ostream* os);
