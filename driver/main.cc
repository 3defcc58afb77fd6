// fmb2fxb: converts a source bank of 128 FM voices into a voice listing on standard output
// and a plug-in bank file beside it.
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "bank/source_bank.h"
#include "output/listing.h"
#include "output/plugin_bank.h"
#include "platform/platform.h"

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
// Every failure of the bank stage, on every system: Windows batch files see it with
// "if errorlevel 1" too.
constexpr int kBankFailedStatus = 255;

// The listing goes out in one write; a static buffer spares the library an allocation.
char stdout_buffer[1 << 16];

// One message line on standard output; a path's controls show as "?", one a byte.
void print_message(std::initializer_list<MessagePart> parts) {
  if (print_to_console(parts)) return;
  for (const MessagePart& part : parts) {
    if (!part.is_path) {
      std::fputs(part.text, stdout);
      continue;
    }
    const char* shown = path_for_messages(part.text);
    const char* end = shown + std::strlen(shown);
    for (const char* at = shown; at != end;) {
      const std::size_t control = control_bytes(at, end);
      if (control == 0) {
        std::fputc(*at++, stdout);
        continue;
      }
      for (std::size_t i = 0; i < control; ++i) std::fputc('?', stdout);
      at += control;
    }
  }
  std::fputc('\n', stdout);
}

void report_bank_error(const BankError& error) {
  if (error.is_source) {
    print_message({{"error: ", false},
                   {error.name.text, true},
                   {" is the source file; it is not overwritten", false}});
  } else if (error.left_behind) {
    print_message({{"error: cannot write ", false},
                   {error.name.text, true},
                   {": ", false},
                   {error.reason.text, false},
                   {"; ", false},
                   {error.temp_path, true},
                   {" is left behind", false}});
  } else {
    print_message({{"error: cannot write ", false},
                   {error.name.text, true},
                   {": ", false},
                   {error.reason.text, false}});
  }
}

int run(int argc, char** argv) {
  prepare_process();
  std::setvbuf(stdout, stdout_buffer, _IOFBF, sizeof stdout_buffer);

  if (argc < 2) {
    print_message({{"usage:", false},
                   {argc > 0 && argv[0] != nullptr ? argv[0] : "", true},
                   {" filename", false}});
    return kUsageStatus;
  }
  const char* path = argv[1];

  SourceBank bank;
  if (const int error = load_source_bank(path, bank)) {
    print_message({{"error: cannot read ", false},
                   {path, true},
                   {": ", false},
                   {std::strerror(error), false}});
    return kReadFailedStatus;
  }
  Voice voices[kVoiceCount];
  for (std::size_t i = 0; i < kVoiceCount; ++i) voices[i] = decode_voice(bank, i);

  print_listing(stdout, voices, stdout_is_terminal() ? Names::kTerminal : Names::kRaw);

  if (std::strstr(path, ".fxb") != nullptr) {
    std::printf("error: This is .fxb file. Set .fmb file.\n");
    return kRefusedStatus;
  }

  BankError error;
  if (write_plugin_bank(path, voices, error) == 0) return 0;
  report_bank_error(error);
  return kBankFailedStatus;
}

}  // namespace

#ifdef _WIN32
// Arguments arrive as wide strings, so that no name passes through the code page.
int wmain(int argc, wchar_t** argv) {
  return run_with_utf8_arguments(argc, argv, run);
}
#else
int main(int argc, char** argv) {
  return run(argc, argv);
}
#endif
