// The replacement protocol, written once over the platform's primitives.
#include "output/file_replace.h"

#include <cerrno>

namespace {

// Appends `note` to the reason, after what it says.
void add_note(SystemReason& reason, const char* note) {
  const SystemReason cause = reason;
  std::snprintf(reason.text, sizeof reason.text, "%.200s%s", cause.text, note);
}

// Closes the stream and removes the temporary file; the target stays untouched.
void abandon(PendingFile& file) {
  if (file.stream != nullptr) std::fclose(file.stream);
  file.stream = nullptr;
  hold_interrupts();
  file.left_behind = !remove_file(file.temp_path);
  release_interrupts(nullptr);
}

// Written in place, the target is already being changed: once a byte has reached it, a
// failure leaves it neither the earlier bank nor the new one.
bool finish_in_place(PendingFile& file, int write_error, SystemReason& reason) {
  std::FILE* stream = file.stream;
  file.stream = nullptr;
  bool done = false;
  bool touched = true;
  if (write_error == 0 && truncate_here(stream, reason)) {
    done = sync_and_close(stream, reason);
  } else {
    if (write_error != 0) set_errno_reason(reason, write_error);
    touched = close_in_place(stream);
  }
  if (!done && touched) add_note(reason, "; written in place, the bank may be incomplete");
  return done;
}

}  // namespace

bool begin_replace(const char* name, PendingFile& file, SystemReason& reason) {
  file.stream = nullptr;
  file.in_place = false;
  file.left_behind = false;
  file.temp_path[0] = '\0';
  FileKind kind = FileKind::kMissing;
  int error = resolve_link(name, file.target_path, kind);
  if (error == 0 && kind == FileKind::kFolder) error = EISDIR;
  if (error == 0 && kind == FileKind::kOther) {
    reason.error = 0;
    std::snprintf(reason.text, sizeof reason.text, "not a regular file");
    return false;
  }
  if (error == 0) error = refuses_writing(file.target_path);
  if (error != 0) {
    set_errno_reason(reason, error);
    return false;
  }
  const bool replacing = kind == FileKind::kRegular;
  hold_interrupts();
  file.stream = create_temporary(file.target_path, replacing, file.temp_path, reason);
  release_interrupts(file.stream != nullptr ? file.temp_path : nullptr);
  if (file.stream != nullptr) {
    if (!replacing || copy_attributes(file.stream, file.target_path, reason)) return true;
    abandon(file);
    return false;
  }
  // A folder that takes no new file, holding a bank the user may write: the bank is written
  // where it is. Its other hard links are no reason for this: they keep the earlier bank.
  if (!replacing || (reason.error != EACCES && reason.error != EPERM)) return false;
  file.stream = open_in_place(file.target_path);
  file.in_place = file.stream != nullptr;
  return file.in_place;
}

bool finish_replace(PendingFile& file, int write_error, SystemReason& reason) {
  if (file.in_place) return finish_in_place(file, write_error, reason);
  if (write_error != 0) {
    set_errno_reason(reason, write_error);
    abandon(file);
    return false;
  }
  std::FILE* stream = file.stream;
  file.stream = nullptr;
  if (!sync_and_close(stream, reason)) {
    abandon(file);
    return false;
  }
  hold_interrupts();
  const bool renamed = rename_over(file.temp_path, file.target_path, reason);
  if (!renamed) file.left_behind = !remove_file(file.temp_path);
  release_interrupts(nullptr);
  if (!renamed) return false;
  // The new file is in place, but a power cut could still undo the rename: a failure to
  // make it durable is reported as a failure, saying what is in place.
  if (sync_folder(file.target_path, reason)) return true;
  const SystemReason cause = reason;
  std::snprintf(reason.text, sizeof reason.text, "written, but its folder cannot be synced: %.200s",
                cause.text);
  return false;
}
