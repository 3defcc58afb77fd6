// fmb2fxb: converts a source bank of 128 FM voices into a voice listing on standard output
// and a plug-in bank file beside it.
#include <csignal>
#include <cstdio>
#include <cstring>

#include "bank/source_bank.h"
#include "output/listing.h"
#include "output/plugin_bank.h"

#ifdef __MINGW32__
// The argument is a literal path: the C runtime must not expand wildcards in it.
extern "C" {
int _dowildcard = 0;
}
#endif

namespace {

constexpr int kUsageStatus = 1;
constexpr int kReadFailedStatus = 1;
constexpr int kRefusedStatus = 0;

// The listing goes out in one write; a static buffer spares the library an allocation.
char stdout_buffer[1 << 16];

void report_bank_error(const BankError& error) {
  if (error.is_source) {
    std::printf("error: %s is the source file; it is not overwritten\n", error.name.text);
  } else {
    std::printf("error: cannot write %s: %s\n", error.name.text, error.reason.text);
  }
}

}  // namespace

int main(int argc, char** argv) {
#ifdef SIGPIPE
  // A reader that stops early must not kill the run before the bank is written.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  std::setvbuf(stdout, stdout_buffer, _IOFBF, sizeof stdout_buffer);

  if (argc < 2) {
    std::printf("usage:%s filename\n", argc > 0 && argv[0] != nullptr ? argv[0] : "");
    return kUsageStatus;
  }
  const char* path = argv[1];

  SourceBank bank;
  if (const int error = load_source_bank(path, bank)) {
    std::printf("error: cannot read %s: %s\n", path, std::strerror(error));
    return kReadFailedStatus;
  }
  Voice voices[kVoiceCount];
  for (std::size_t i = 0; i < kVoiceCount; ++i) voices[i] = decode_voice(bank, i);

  print_listing(stdout, voices);

  if (std::strstr(path, ".fxb") != nullptr) {
    std::printf("error: This is .fxb file. Set .fmb file.\n");
    return kRefusedStatus;
  }

  BankError error;
  const int status = write_plugin_bank(path, voices, error);
  if (status != 0) report_bank_error(error);
  return status;
}
