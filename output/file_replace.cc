// The replacement protocol, written once over the platform's primitives.
#include "output/file_replace.h"

bool begin_replace(const char* name, PendingFile& file, SystemReason& reason) {
  file.stream = nullptr;
  int error = resolve_link(name, file.target_path);
  if (error == 0) error = refuses_writing(file.target_path);
  if (error != 0) {
    set_errno_reason(reason, error);
    return false;
  }
  hold_interrupts();
  file.stream = create_temporary(file.target_path, file.temp_path, reason);
  release_interrupts(file.stream != nullptr ? file.temp_path : nullptr);
  return file.stream != nullptr;
}

bool finish_replace(PendingFile& file, SystemReason& reason) {
  std::FILE* stream = file.stream;
  file.stream = nullptr;
  if (!sync_and_close(stream, reason)) {
    abandon_replace(file);
    return false;
  }
  hold_interrupts();
  const bool renamed = rename_over(file.temp_path, file.target_path, reason);
  if (!renamed) remove_file(file.temp_path);
  release_interrupts(nullptr);
  if (!renamed) return false;
  // The new file is in place, but a power cut could still undo the rename: a failure to
  // make it durable is reported as a failure, saying what is in place.
  if (sync_folder(file.target_path, reason)) return true;
  SystemReason cause = reason;
  std::snprintf(reason.text, sizeof reason.text, "written, but its folder cannot be synced: %.200s",
                cause.text);
  return false;
}

void abandon_replace(PendingFile& file) {
  if (file.stream != nullptr) std::fclose(file.stream);
  file.stream = nullptr;
  hold_interrupts();
  remove_file(file.temp_path);
  release_interrupts(nullptr);
}
