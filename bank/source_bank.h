// Source bank files (".fmb") and the voice model decoded from them.
#pragma once

#include <cstddef>
#include <cstdint>

// A source bank is 6152 bytes: 8 bytes nobody reads, then 128 voice records of 48 bytes.
//
//   offset  size  voice record
//        0     8  name, used as is (no terminator, may hold zero bytes)
//        8     4  dt:4 | ml:4                 one byte per operator, stored in the
//       12     4  tl                          order operator 1, 3, 2, 4
//       16     4  ks:2 | -:1 | ar:5
//       20     4  ams:1 | dr:7
//       24     4  sr
//       28     4  sl:4 | rr:4
//       32     1  -:1 | fb:4 | alg:3
//       33     1  pan:2 | ams:2 | -:1 | pms:3
//       34    14  not interpreted
//
// Content is never validated: any 6152 bytes are 128 voices.
constexpr std::size_t kVoiceCount = 128;
constexpr std::size_t kOperatorCount = 4;
constexpr std::size_t kNameSize = 8;
constexpr std::size_t kFileHeaderSize = 8;
constexpr std::size_t kRecordSize = 48;
constexpr std::size_t kBankImageSize = kFileHeaderSize + kVoiceCount * kRecordSize;
static_assert(kBankImageSize == 6152, "a source bank is 6152 bytes");

struct SourceBank {
  std::uint8_t bytes[kBankImageSize];
};

struct Operator {
  std::uint8_t ar, dr, sr, rr, sl, tl, ks, ml, dt, ams;
};

struct Voice {
  std::uint8_t name[kNameSize];
  std::uint8_t alg, fb, pms, ams, pan;
  Operator op[kOperatorCount];  // operators 1 to 4, in output order
};

// Fills `bank` with the first 6152 bytes of the file at `path` in one read, zero-filling
// what a shorter file lacks. Returns 0, or the errno value of a failed open or read.
int load_source_bank(const char* path, SourceBank& bank);

// Decodes voice record `index` (0 to 127) of `bank`.
Voice decode_voice(const SourceBank& bank, std::size_t index);
