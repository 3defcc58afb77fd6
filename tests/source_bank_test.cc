// Loading source bank files and decoding voice records.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "bank/source_bank.h"
#include "tests/test_support.h"

namespace {

struct DecodeCase {
  const char* what;
  std::size_t offset;  // within the record
  unsigned char byte;
  std::function<void(Voice&)> expect;  // the fields that byte must set; all others stay 0
};

// Operator n (1 to 4) of the expected voice.
Operator& op(Voice& v, int n) {
  return v.op[n - 1];
}

const DecodeCase kDecodeCases[] = {
    {"alg and fb at their widest", 32, 0xFF,
     [](Voice& v) {
       v.alg = 7;
       v.fb = 15;
     }},
    {"fb keeps bit 6", 32, 0x40, [](Voice& v) { v.fb = 8; }},
    {"bit 7 of byte 32 is ignored", 32, 0x80, [](Voice&) {}},
    {"pan, ams and pms at their widest", 33, 0xFF,
     [](Voice& v) {
       v.pan = 3;
       v.ams = 3;
       v.pms = 7;
     }},
    {"bit 3 of byte 33 is ignored", 33, 0x08, [](Voice&) {}},
    {"pan alone", 33, 0x80, [](Voice& v) { v.pan = 2; }},
    {"voice ams alone", 33, 0x10, [](Voice& v) { v.ams = 1; }},
    {"dt keeps four bits", 8, 0xF0, [](Voice& v) { op(v, 1).dt = 15; }},
    {"ml", 8, 0x0F, [](Voice& v) { op(v, 1).ml = 15; }},
    {"tl is the whole byte", 12, 0xFF, [](Voice& v) { op(v, 1).tl = 255; }},
    {"ks and ar, bit 5 ignored", 16, 0xFF,
     [](Voice& v) {
       op(v, 1).ks = 3;
       op(v, 1).ar = 31;
     }},
    {"bit 5 of the attack byte alone", 16, 0x20, [](Voice&) {}},
    {"operator ams and dr keeps seven bits", 20, 0xFF,
     [](Voice& v) {
       op(v, 1).ams = 1;
       op(v, 1).dr = 127;
     }},
    {"dr without ams", 20, 0x7F, [](Voice& v) { op(v, 1).dr = 127; }},
    {"operator ams without dr", 20, 0x80, [](Voice& v) { op(v, 1).ams = 1; }},
    {"sr is the whole byte", 24, 0xFF, [](Voice& v) { op(v, 1).sr = 255; }},
    {"sl", 28, 0xF0, [](Voice& v) { op(v, 1).sl = 15; }},
    {"rr", 28, 0x0F, [](Voice& v) { op(v, 1).rr = 15; }},
    // Groups hold operators 1, 3, 2, 4: position 1 is operator 3, position 2 operator 2.
    {"second group byte is operator 3", 13, 0x22, [](Voice& v) { op(v, 3).tl = 0x22; }},
    {"third group byte is operator 2", 14, 0x33, [](Voice& v) { op(v, 2).tl = 0x33; }},
    {"fourth group byte is operator 4", 31, 0x5A,
     [](Voice& v) {
       op(v, 4).sl = 5;
       op(v, 4).rr = 10;
     }},
    {"the name is copied", 0, 'A', [](Voice& v) { v.name[0] = 'A'; }},
    {"the last name byte", 7, 0xFF, [](Voice& v) { v.name[7] = 0xFF; }},
    {"bytes 34 to 47 mean nothing", 34, 0xFF, [](Voice&) {}},
    {"the last record byte means nothing", 47, 0xFF, [](Voice&) {}},
};

TEST(DecodeVoice, EachFieldFromItsBitsAndNoOthers) {
  for (const DecodeCase& c : kDecodeCases) {
    SCOPED_TRACE(c.what);
    // Both the first and the last record, to catch a wrong record stride.
    for (std::size_t index : {std::size_t{0}, kVoiceCount - 1}) {
      SourceBank bank{};
      bank.bytes[8 + index * 48 + c.offset] = c.byte;
      Voice expected{};
      c.expect(expected);
      EXPECT_EQ(decode_voice(bank, index), expected) << "voice " << index;
      const std::size_t neighbour = index == 0 ? 1 : index - 1;
      EXPECT_EQ(decode_voice(bank, neighbour), Voice{}) << "voice " << neighbour;
    }
  }
}

TEST(DecodeVoice, GroupOrderIsOperatorOneThreeTwoFour) {
  SourceBank bank{};
  const unsigned char group[4] = {11, 22, 33, 44};
  std::memcpy(bank.bytes + 8 + 12, group, 4);
  const Voice v = decode_voice(bank, 0);
  EXPECT_EQ(v.op[0].tl, 11);
  EXPECT_EQ(v.op[1].tl, 33);
  EXPECT_EQ(v.op[2].tl, 22);
  EXPECT_EQ(v.op[3].tl, 44);
}

TEST(DecodeVoice, FileHeaderBytesMeanNothing) {
  SourceBank bank{};
  std::memset(bank.bytes, 0xFF, 8);
  for (std::size_t i = 0; i < kVoiceCount; ++i) EXPECT_EQ(decode_voice(bank, i), Voice{});
}

// Every length that matters: empty, one byte, one record, one short, exact, one over.
TEST(LoadSourceBank, ReadsAtMostTheImageAndZeroFillsTheRest) {
  TempDir dir;
  std::string pattern(6200, '\0');
  for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>(i * 7 + 1);
  for (std::size_t length : {0u, 1u, 8u + 48u, 6151u, 6152u, 6153u, 6200u}) {
    SCOPED_TRACE(length);
    const fs::path path = dir / "bank.fmb";
    write_file(path, pattern.substr(0, length));
    SourceBank bank;
    std::memset(bank.bytes, 0xAA, sizeof bank.bytes);
    ASSERT_EQ(load_source_bank(path.string().c_str(), bank), 0);
    std::string expected = pattern.substr(0, std::min<std::size_t>(length, 6152));
    expected.resize(6152, '\0');
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bank.bytes), 6152), expected);
  }
}

TEST(LoadSourceBank, ReportsTheSystemsReason) {
  TempDir dir;
  SourceBank bank;
  EXPECT_EQ(load_source_bank((dir / "missing.fmb").string().c_str(), bank), ENOENT);
  EXPECT_EQ(load_source_bank("", bank), ENOENT);
  // A directory may open and fail only at the read; either way it is an error.
  EXPECT_NE(load_source_bank(dir.path().string().c_str(), bank), 0);
}

}  // namespace
