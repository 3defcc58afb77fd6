// The plug-in bank file (".fxb"): an opaque-chunk bank of the 128 voices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "bank/source_bank.h"
#include "output/file_replace.h"

// All numbers are 32-bit big-endian. The file is always 9248 bytes:
//
//   offset  size  header
//        0     4  "CcnK"
//        4     4  byte size, written as 0
//        8     4  "FBCh"   bank of one opaque chunk
//       12     4  1        format version
//       16     4  "ZELK"   plug-in identifier
//       20     4  1        plug-in version
//       24     4  128      programs
//       28   128  reserved, zero
//      156     4  9088     chunk size
//      160  9088  128 voice chunks of 71 bytes, voice 0 first
//
//   offset  size  voice chunk
//        0     4  alg, fb, ams, pms
//        4     6  zero
//       10     1  0xFF
//       11    44  operators 1 to 4, 11 bytes each:
//                 tl, ar, dr, sl, sr, rr, ks, ml, dt, 0, ams
//       55     8  name, unchanged
//       63     8  zero
//
// pan has no place in the chunk.
constexpr std::size_t kFieldSize = 4;
constexpr std::size_t kReservedSize = 128;
constexpr std::size_t kBankHeaderSize = 7 * kFieldSize + kReservedSize + kFieldSize;
constexpr std::size_t kOperatorBlockSize = 11;
constexpr std::size_t kChunkOperatorsOffset = 11;
constexpr std::size_t kChunkNameOffset =
    kChunkOperatorsOffset + kOperatorCount * kOperatorBlockSize;
constexpr std::size_t kChunkSize = kChunkNameOffset + kNameSize + 8;
constexpr std::size_t kBankChunkSize = kVoiceCount * kChunkSize;
constexpr std::size_t kBankFileSize = kBankHeaderSize + kBankChunkSize;
static_assert(kBankHeaderSize == 160, "the bank header is 160 bytes");
static_assert(kChunkSize == 4 + 6 + 1 + 44 + 8 + 8 && kChunkSize == 71,
              "a voice chunk is 71 bytes");
static_assert(kBankChunkSize == 9088 && kBankFileSize == 9248, "a bank is 9248 bytes");

struct VoiceChunk {
  std::uint8_t bytes[kChunkSize];
};

// At most 8 bytes of stem, then ".fxb". On Windows a stem cut in the system code page comes
// back in UTF-8, where each of its 8 bytes may take up to 3.
constexpr std::size_t kOutputStemMax = 8;
constexpr std::size_t kOutputStemUtf8Max = 3 * kOutputStemMax;

struct OutputName {
  char text[kOutputStemUtf8Max + sizeof ".fxb"];
};

// The byte count of the character that starts at `text`: 1, or the length of a whole
// sequence that `text` starts.
using CharLength = std::size_t (*)(const char* text);

// UTF-8: a lead byte followed by all its continuation bytes; any other byte counts alone.
std::size_t utf8_char_length(const char* text);

// The bytes of `text` before its first ".", at most 8 of them, less a character that the
// cut at 8 would split.
std::size_t stem_length(const char* text, CharLength char_length);

struct BankError {
  OutputName name;
  bool is_source;       // the output name is the source file itself
  SystemReason reason;  // otherwise, why the bank could not be written
  bool left_behind;     // and `temp_path` could not be removed after it
  char temp_path[kPathMax];
};

// The argument's bytes before its first ".", at most 8 of them, then ".fxb", once leading
// "./" (and ".\\" on Windows) are dropped: "./bank.fmb" gives "bank.fxb", ".hidden" gives
// ".fxb". The limit counts bytes, but a character it would split is left out whole, so the
// name stays valid text: on Windows the bytes are those of the system code page where it
// holds the argument exactly, else UTF-8; on POSIX the argument's own.
OutputName make_output_name(const char* argument);

VoiceChunk make_voice_chunk(const Voice& voice);

// Writes the whole bank to `out` and flushes it; false when any byte was not written.
bool put_plugin_bank(std::FILE* out, const Voice (&voices)[kVoiceCount]);

// Writes the bank for the source `argument` under its output name, replacing an earlier
// file only once the new one is complete. Returns 0, or -1 with `error` filled in.
int write_plugin_bank(const char* argument, const Voice (&voices)[kVoiceCount], BankError& error);
