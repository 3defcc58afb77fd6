// What differs between POSIX systems and Windows: opening, syncing and renaming files, links,
// interrupts, the terminal and the code page. One source per system implements it
// (platform_posix.cc, platform_win32.cc); the build compiles one of them.
//
// Paths are byte strings: on POSIX the bytes the system gives, on Windows UTF-8, which the
// wide forms of the system calls take after conversion, so that every name Windows can show
// can be opened.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
constexpr std::size_t kPathMax = 32768;  // long paths, in UTF-8 bytes
#else
constexpr std::size_t kPathMax = 4096;
#endif

// The system's reason for a failure, as the user should read it.
struct SystemReason {
  char text[256];
};

// Fills `reason` from an errno value.
inline void set_errno_reason(SystemReason& reason, int error) {
  std::snprintf(reason.text, sizeof reason.text, "%s", std::strerror(error));
}

// Makes the process safe to run before anything else happens: descriptors 0 to 2 are open,
// a closed pipe or a file size limit fails a write instead of killing the process, and an
// interrupt removes the pending temporary file (see hold_interrupts) before ending it.
void prepare_process();

// True when standard output is a terminal or a console.
bool stdout_is_terminal();

// Writes `path` as messages show it: every control byte as "?", so a message stays one line;
// on Windows in the system code page, with "?" for a character it cannot hold.
void print_path(std::FILE* out, const char* path);

// Opens an existing file for untranslated reading; nullptr with errno set.
std::FILE* open_for_reading(const char* path);

// True when both paths exist and name the same file (a link, a hard link, or another
// spelling on a file system that ignores letter case).
bool same_file(const char* a, const char* b);

// Follows `name` through symbolic links to the file that is to be replaced. A link in a
// sticky, world-writable folder is followed only when it belongs to the user or to the
// folder's owner. Returns 0 or an errno value.
int resolve_link(const char* name, char (&target)[kPathMax]);

// An errno value when `path` exists and may not be written, else 0.
int refuses_writing(const char* path);

// Creates a new, empty file at `temp`, exclusively, under an unpredictable name beside
// `target`, with the permissions of `target` if it exists. Retries on a clash. Returns the
// untranslated stream, or nullptr with `reason` saying what failed.
std::FILE* create_temporary(const char* target, char (&temp)[kPathMax], SystemReason& reason);

// Writes the stream's bytes through to the disk and closes the stream.
bool sync_and_close(std::FILE* stream, SystemReason& reason);

// Renames `from` over `to` in one step, replacing what was there.
bool rename_over(const char* from, const char* to, SystemReason& reason);

// Makes the rename of a file in the folder of `path` durable. A file system that cannot sync
// a folder, or a folder that cannot be opened for it, is not a failure.
bool sync_folder(const char* path, SystemReason& reason);

bool remove_file(const char* path);

// While held, an interrupt waits; once released it removes `pending` (when set) and ends
// the process as the interrupt would have. Creating, renaming and removing the temporary
// file happen while held, so an interrupt never leaves it behind nor removes a stranger.
void hold_interrupts();
void release_interrupts(const char* pending);

// On Windows, when `argument` can be held exactly by the system code page, cuts the output
// name's stem from its bytes there (a double-byte character counts whole), and writes the
// stem back in UTF-8 to `stem`. False otherwise, and always on POSIX, where the stem is cut
// from the argument's own bytes.
bool system_code_page_stem(const char* argument, char* stem, std::size_t size, std::size_t& length);

#ifdef _WIN32
// Converts the wide arguments to UTF-8, into static storage, and calls `run` with them.
int run_with_utf8_arguments(int argc, wchar_t** argv, int (*run)(int, char**));
#endif
