// Replacing a file without ever losing it: the new content goes to a temporary file beside
// the target, is synced to the disk, and only then renamed over the target, whose folder is
// synced in turn. A failure, an interrupt or a power cut leaves either the earlier file or
// the complete new one, and no temporary file behind.
#pragma once

#include <cstdio>

#include "output/platform.h"

struct PendingFile {
  std::FILE* stream;           // open for untranslated writing
  char temp_path[kPathMax];    // the temporary file beside the target
  char target_path[kPathMax];  // `name` with symbolic links resolved: a link stays a link
};

// Creates the temporary file that will replace `name`. A target that exists but may not
// be written is refused here, as opening it for writing would be.
bool begin_replace(const char* name, PendingFile& file, SystemReason& reason);

// Syncs and closes the stream and renames the temporary file over the target.
bool finish_replace(PendingFile& file, SystemReason& reason);

// Closes the stream and removes the temporary file; the target stays untouched.
void abandon_replace(PendingFile& file);
