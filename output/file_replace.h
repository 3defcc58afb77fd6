// Replacing a file without ever losing it: the new content goes to a temporary file beside
// the target and is renamed over it only once complete, so a failure leaves the earlier file
// as it was and no partial file behind.
#pragma once

#include <cstddef>
#include <cstdio>

constexpr std::size_t kPathMax = 4096;

// The system's reason for a failure, as the user should read it.
struct SystemReason {
  char text[256];
};

struct PendingFile {
  std::FILE* stream;           // open for untranslated writing
  char temp_path[kPathMax];    // the temporary file beside the target
  char target_path[kPathMax];  // `name` with symbolic links resolved: a link stays a link
};

// True when both paths exist and name the same file (a link, a hard link, or another
// spelling on a file system that ignores letter case).
bool same_file(const char* a, const char* b);

// Creates the temporary file that will replace `name`. A target that exists but may not
// be written is refused here, as opening it for writing would be.
bool begin_replace(const char* name, PendingFile& file, SystemReason& reason);

// Closes the stream and renames the temporary file over the target.
bool finish_replace(PendingFile& file, SystemReason& reason);

// Closes the stream and removes the temporary file; the target stays untouched.
void abandon_replace(PendingFile& file);

// Fills `reason` from an errno value.
void set_errno_reason(SystemReason& reason, int error);
