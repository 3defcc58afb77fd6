// Replacing a file without ever losing it: the new content goes to a temporary file beside
// the target, which takes the target's owner, permissions and attributes, is synced to the
// disk, and only then renamed over the target, whose folder is synced in turn. A failure, a
// signal or a power cut leaves either the earlier file or the complete new one, and no
// temporary file behind.
//
// Only a regular file is replaced: a device, a FIFO or a socket at the name is refused
// unopened. Where the folder takes no new file but the file itself may be written, it is
// written in place instead, from its start, cut to its new length and synced: a failure
// there can leave it incomplete, and says so.
#pragma once

#include <cstdio>

#include "platform/platform.h"

struct PendingFile {
  std::FILE* stream;           // open for untranslated writing
  bool in_place;               // `stream` writes the target itself
  bool left_behind;            // the temporary file could not be removed after a failure
  char temp_path[kPathMax];    // the temporary file beside the target
  char target_path[kPathMax];  // `name` with symbolic links resolved: a link stays a link
};

// Opens what the new content is written to. A target that exists but may not be written, or
// is not a regular file, is refused here, before anything is created.
bool begin_replace(const char* name, PendingFile& file, SystemReason& reason);

// Ends the writing that began with begin_replace. `write_error` is the errno value of a
// failed write (0 for none): then the target stays untouched, or, written in place, is
// reported as possibly incomplete. Otherwise the new content is synced and put in place.
bool finish_replace(PendingFile& file, int write_error, SystemReason& reason);
