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
#include <initializer_list>

#ifdef _WIN32
constexpr std::size_t kPathMax = 32768;  // long paths, in UTF-8 bytes
#else
constexpr std::size_t kPathMax = 4096;
#endif

// The system's reason for a failure, as the user should read it, and its errno value where
// it has one (0 otherwise), so that the caller can tell a refusal from other failures.
struct SystemReason {
  int error;
  char text[256];
};

// Fills `reason` from an errno value.
inline void set_errno_reason(SystemReason& reason, int error) {
  reason.error = error;
  std::snprintf(reason.text, sizeof reason.text, "%s", std::strerror(error));
}

// Makes the process safe to run before anything else happens: descriptors 0 to 2 are open,
// a closed pipe or a file size limit fails a write instead of killing the process, and every
// signal that would end it (or, on Windows, a console event) removes the pending temporary
// file (see hold_interrupts) before ending it as it would have. Ignored signals stay ignored.
void prepare_process();

// True when standard output is a terminal or a console.
bool stdout_is_terminal();

// One piece of a message: text as it stands, or a path, which messages show with every
// control character as "?", so that a message stays one line and cannot command a terminal.
struct MessagePart {
  const char* text;
  bool is_path;
};

// On Windows, when standard output is a console: flushes the stream and writes the message
// there as one line of UTF-16, each path in its own characters with its controls (U+0000 to
// U+001F, U+007F to U+009F) as "?"; true. False otherwise, and always on POSIX: the caller
// writes the line to the stream.
bool print_to_console(std::initializer_list<MessagePart> parts);

// The bytes a message written to the stream shows for `path`: on POSIX its own; on Windows
// those of the system code page, with "?" for a character it cannot hold (static storage,
// valid until the next call).
const char* path_for_messages(const char* path);

// Whether a UTF-8 C1 control (C2 80 to C2 9F, such as the one-character CSI) counts as a
// control: on POSIX, where terminals read UTF-8; not on Windows, whose code pages use 0x80
// to 0x9F for text.
#ifdef _WIN32
constexpr bool kTerminalHidesC1 = false;
#else
constexpr bool kTerminalHidesC1 = true;
#endif

// How many bytes from `at` (before `end`) make a control that a terminal would act on: 1 for
// a C0 control or DEL, 2 for a UTF-8 C1 control where kTerminalHidesC1, else 0. Messages and
// terminal listings show each of those bytes as "?".
inline std::size_t control_bytes(const char* at, const char* end) {
  const unsigned char first = static_cast<unsigned char>(*at);
  if (first < 0x20 || first == 0x7F) return 1;
  if (first != 0xC2 || at + 1 == end) return 0;
  return kTerminalHidesC1 && (static_cast<unsigned char>(at[1]) & 0xE0) == 0x80 ? 2 : 0;
}

// Opens an existing file for untranslated reading; nullptr with errno set.
std::FILE* open_for_reading(const char* path);

// True when both paths exist and name the same file (a link, a hard link, or another
// spelling on a file system that ignores letter case).
bool same_file(const char* a, const char* b);

// What a path names, once its links are followed; decided without opening it.
enum class FileKind { kMissing, kRegular, kFolder, kOther };

// Follows `name` through symbolic links to the file that is to be replaced, and says what it
// is. A link in a sticky, world-writable folder is followed only when it belongs to the user
// or to the folder's owner. Returns 0 or an errno value.
int resolve_link(const char* name, char (&target)[kPathMax], FileKind& kind);

// An errno value when `path` exists and may not be written, else 0.
int refuses_writing(const char* path);

// Creates a new, empty file at `temp`, exclusively, under an unpredictable name beside
// `target` that fits the folder's name limit. Retries on a clash. When `replacing`, only the
// user may open it until copy_attributes widens it; otherwise it takes the user's umask.
// Returns the untranslated stream, or nullptr with `reason` saying what failed: its `error`
// is EACCES or EPERM when the folder takes no new file.
std::FILE* create_temporary(const char* target, bool replacing, char (&temp)[kPathMax],
                            SystemReason& reason);

// Gives the temporary file what the file it replaces has. POSIX: the permission bits less
// set-user-ID and set-group-ID, and the access ACL, both or a failure; the owner, the group
// and the user.* extended attributes where the system lets the user set them. Windows: the
// hidden, system, archive and not-content-indexed attributes.
bool copy_attributes(std::FILE* temp, const char* target, SystemReason& reason);

// Opens the existing regular file `target` for untranslated writing from its start, without
// truncating it: for writing in place. nullptr on failure.
std::FILE* open_in_place(const char* target);

// Closes a stream from open_in_place after a failure; true when any byte reached the file.
bool close_in_place(std::FILE* stream);

// Flushes the stream and cuts its file where the writing ended.
bool truncate_here(std::FILE* stream, SystemReason& reason);

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

// Whether a backslash separates folders in a path, as on Windows.
#ifdef _WIN32
constexpr bool kBackslashSeparates = true;
constexpr std::size_t kCodePagePathMax = 2 * 32768;  // two bytes a character at most
#else
constexpr bool kBackslashSeparates = false;
constexpr std::size_t kCodePagePathMax = 1;  // no code page to convert to
#endif

// On Windows, when the system code page (other than UTF-8) holds `text` exactly, with no
// best-fit look-alike: writes its bytes there to `bytes`. False otherwise, and always on
// POSIX, where names are the system's own bytes.
bool to_system_code_page(const char* text, char (&bytes)[kCodePagePathMax]);

// The byte count of the system code page's character at `bytes`: 2 for a whole double-byte
// character, else 1.
std::size_t system_char_length(const char* bytes);

// `length` bytes of the system code page back in UTF-8, into `utf8`: the byte count, or 0.
std::size_t system_code_page_to_utf8(const char* bytes, std::size_t length, char* utf8,
                                     std::size_t size);

#ifdef _WIN32
// Converts the wide arguments to UTF-8, into static storage, and calls `run` with them.
int run_with_utf8_arguments(int argc, wchar_t** argv, int (*run)(int, char**));
#endif
