// The floor of a conversion: only the work no run can avoid. One 6152-byte read of the
// source, the listing's 41089 bytes written to standard output in one write, and one
// 9248-byte bank written to a temporary file, synced, renamed to <source stem>.fxb, and the
// folder synced, as a bank that must survive a power cut needs.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

char image[6152];
char listing[41089];
char bank[9248];

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 1;
  const int in = open(argv[1], O_RDONLY);
  if (in < 0 || read(in, image, sizeof image) < 0) return 1;
  close(in);
  if (write(STDOUT_FILENO, listing, sizeof listing) < 0) return 1;

  char name[4096];
  char temp[4096 + 8];
  std::snprintf(name, sizeof name, "%s", argv[1]);
  char* dot = std::strrchr(name, '.');
  if (dot != nullptr) std::snprintf(dot, sizeof name - static_cast<size_t>(dot - name), ".fxb");
  std::snprintf(temp, sizeof temp, "%s.0.tmp", name);
  const int out = open(temp, O_WRONLY | O_CREAT | O_EXCL, 0666);
  if (out < 0) return 1;
  const bool ok = write(out, bank, sizeof bank) == static_cast<ssize_t>(sizeof bank);
  if (fsync(out) != 0 || close(out) != 0 || !ok) return 1;
  if (rename(temp, name) != 0) return 1;
  const int folder = open(".", O_RDONLY);
  const bool synced = folder >= 0 && fsync(folder) == 0;
  close(folder);
  return synced ? 0 : 1;
}
