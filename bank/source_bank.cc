// Reading a source bank file and decoding its voice records.
#include "bank/source_bank.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {

// Record offsets of the six operator groups and the two voice bytes.
constexpr std::size_t kDetuneMultiple = 8;
constexpr std::size_t kTotalLevel = 12;
constexpr std::size_t kKeyScaleAttack = 16;
constexpr std::size_t kModulationDecay = 20;
constexpr std::size_t kSustainRate = 24;
constexpr std::size_t kSustainLevelRelease = 28;
constexpr std::size_t kFeedbackAlgorithm = 32;
constexpr std::size_t kPanModulation = 33;

// Position within a group of operators 1 to 4: groups are stored 1, 3, 2, 4.
constexpr std::size_t kGroupPosition[kOperatorCount] = {0, 2, 1, 3};

// `width` bits of `byte` starting at bit `low`.
constexpr std::uint8_t bits(std::uint8_t byte, unsigned low, unsigned width) {
  return static_cast<std::uint8_t>((static_cast<unsigned>(byte) >> low) & ((1u << width) - 1u));
}

}  // namespace

int load_source_bank(const char* path, SourceBank& bank) {
  std::memset(bank.bytes, 0, sizeof bank.bytes);
  std::FILE* file = open_for_reading(path);
  if (file == nullptr) return errno != 0 ? errno : EIO;
  // Unbuffered: the one read goes straight into the image. It stops at 6152 bytes, so an
  // endless device is read only that far; a pipe or FIFO whose writer neither writes nor
  // closes still holds the run, as it would hold any reader.
  std::setvbuf(file, nullptr, _IONBF, 0);
  errno = 0;
  // A short file is no error: what it lacks stays zero. Only a failed read is.
  const std::size_t count = std::fread(bank.bytes, 1, sizeof bank.bytes, file);
  static_cast<void>(count);
  // A directory opens fine on some systems and fails only here.
  const int error = std::ferror(file) ? (errno != 0 ? errno : EIO) : 0;
  std::fclose(file);
  return error;
}

Voice decode_voice(const SourceBank& bank, std::size_t index) {
  const std::uint8_t* record = bank.bytes + kFileHeaderSize + index * kRecordSize;
  Voice voice{};
  std::memcpy(voice.name, record, kNameSize);
  voice.alg = bits(record[kFeedbackAlgorithm], 0, 3);
  voice.fb = bits(record[kFeedbackAlgorithm], 3, 4);
  voice.pms = bits(record[kPanModulation], 0, 3);
  voice.ams = bits(record[kPanModulation], 4, 2);
  voice.pan = bits(record[kPanModulation], 6, 2);
  for (std::size_t n = 0; n < kOperatorCount; ++n) {
    const std::uint8_t* group = record + kGroupPosition[n];
    Operator& op = voice.op[n];
    op.dt = bits(group[kDetuneMultiple], 4, 4);
    op.ml = bits(group[kDetuneMultiple], 0, 4);
    op.tl = group[kTotalLevel];
    op.ks = bits(group[kKeyScaleAttack], 6, 2);
    op.ar = bits(group[kKeyScaleAttack], 0, 5);
    op.ams = bits(group[kModulationDecay], 7, 1);
    op.dr = bits(group[kModulationDecay], 0, 7);
    op.sr = group[kSustainRate];
    op.sl = bits(group[kSustainLevelRelease], 4, 4);
    op.rr = bits(group[kSustainLevelRelease], 0, 4);
  }
  return voice;
}
