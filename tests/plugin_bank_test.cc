// Output names and the plug-in bank's bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "output/plugin_bank.h"
#include "tests/test_support.h"

namespace {

using namespace std::string_literals;

struct NameCase {
  const char* argument;
  const char* expected;
};

const NameCase kNameCases[] = {
    {"bank01.fmb", "bank01.fxb"},
    {"bank.fmb", "bank.fxb"},
    {"longbankname.fmb", "longbank.fxb"},
    {"abcdefgh.fmb", "abcdefgh.fxb"},  // exactly eight bytes kept
    {"voices", "voices.fxb"},          // no dot at all
    {"voicebank1", "voiceban.fxb"},
    {"VOICES.FXB", "VOICES.fxb"},
    {"bank.fxbak.fmb", "bank.fxb"},
    // Leading "./" names the current folder and is dropped, with the separators after it.
    {"./bank.fmb", "bank.fxb"},
    {".//bank.fmb", "bank.fxb"},
    {"././longbankname.fmb", "longbank.fxb"},
    {"./sub/a.fmb", "sub/a.fxb"},
    // Any other leading dot ends the stem at once.
    {".hidden.fmb", ".fxb"},
    {"../bank.fmb", ".fxb"},
    {"..\\bank.fmb", ".fxb"},
    {"sub/./a.fmb", "sub/.fxb"},
    {"", ".fxb"},
    {"sub/a.fmb", "sub/a.fxb"},  // a folder part is kept within the eight bytes
    {"banks/voice01.fmb", "banks/vo.fxb"},
    {"C:\\banks\\x.fmb", "C:\\banks.fxb"},
#ifdef _WIN32
    {".\\bank.fmb", "bank.fxb"},
    {".\\.\\longbankname.fmb", "longbank.fxb"},
    {".\\sub\\a.fmb", "sub\\a.fxb"},
    {".\\/.\\bank.fmb", "bank.fxb"},
#else
    {".\\bank.fmb", ".fxb"},  // a backslash is part of a POSIX name
#endif
};

TEST(MakeOutputName, KeepsAtMostEightBytesBeforeTheFirstDot) {
  for (const NameCase& c : kNameCases) {
    EXPECT_STREQ(make_output_name(c.argument).text, c.expected) << "argument " << c.argument;
  }
}

// On Windows names beyond ASCII are cut in the system code page where it holds them; the
// Windows suite covers those under code pages 1252 and 932.
#ifndef _WIN32
const NameCase kUtf8Cases[] = {
    // A UTF-8 character that the cut would split is left out whole.
    {"abcdefg\xC3\xA4.fmb", "abcdefg.fxb"},  // a-umlaut, C3 A4
    {"abcdef\xC3\xA4.fmb", "abcdef\xC3\xA4.fxb"},
    // Five kana and kanji of three bytes each: the third starts at byte 6 and ends at 8.
    {"\xE9\x9F\xB3\xE8\x89\xB2\xE3\x83\x90\xE3\x83\xB3\xE3\x82\xAF.fmb",
     "\xE9\x9F\xB3\xE8\x89\xB2.fxb"},
    {"abcde\xF0\x9F\x8E\xB9.fmb", "abcde.fxb"},  // a four-byte emoji from byte 5
    {"\xF0\x9F\x8E\xB9"
     "bank.fmb",
     "\xF0\x9F\x8E\xB9"
     "bank.fxb"},
    // Bytes that are no whole UTF-8 character are cut as bytes.
    {"abcdefg\xE4.fmb", "abcdefg\xE4.fxb"},      // Latin-1 a-umlaut
    {"abcdefg\xE4\x80.fmb", "abcdefg\xE4.fxb"},  // a sequence missing its last byte
    {"abcdefg\x80\x80.fmb", "abcdefg\x80.fxb"},  // continuation bytes without a lead
    {"abcdefg\xC0\x80.fmb", "abcdefg\xC0.fxb"},  // C0 never leads
};

TEST(MakeOutputName, LeavesOutAUtf8CharacterThatTheCutWouldSplit) {
  for (const NameCase& c : kUtf8Cases) {
    EXPECT_STREQ(make_output_name(c.argument).text, c.expected) << "argument " << c.argument;
  }
}
#endif

// Code page 932 (Shift-JIS): bytes 81-9F and E0-FC lead a two-byte character.
std::size_t shift_jis_length(const char* text) {
  const unsigned char lead = static_cast<unsigned char>(text[0]);
  const bool leads = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC);
  return leads && text[1] != '\0' ? 2 : 1;
}

TEST(StemLength, LeavesOutADoubleByteCharacterThatTheCutWouldSplit) {
  // "a", then バンク (83 6F, 83 93, 83 4E) and 音 (89 B9), which would straddle byte 8.
  EXPECT_EQ(stem_length("a\x83\x6F\x83\x93\x83\x4E\x89\xB9.fmb", shift_jis_length), 7u);
  // 音色バンク: four whole characters fill the eight bytes.
  EXPECT_EQ(stem_length("\x89\xB9\x90\x46\x83\x6F\x83\x93\x83\x4E.fmb", shift_jis_length), 8u);
  // A lead byte with no second byte is cut as a byte, as before.
  EXPECT_EQ(stem_length("ab\x89.fmb", shift_jis_length), 3u);
  EXPECT_EQ(stem_length("abcdefg\x89", shift_jis_length), 8u);
}

TEST(PutPluginBank, HeaderThenOneChunkPerVoice) {
  Voice voices[kVoiceCount] = {};
  const std::string bank =
      capture([&](std::FILE* out) { EXPECT_TRUE(put_plugin_bank(out, voices)); });
  ASSERT_EQ(bank.size(), 9248u);
  ASSERT_EQ(kBankHeader.size(), 160u);
  ASSERT_EQ(kZeroVoiceChunk.size(), 71u);
  EXPECT_EQ(bank.substr(0, 160), kBankHeader);
  for (std::size_t k = 0; k < kVoiceCount; ++k) {
    EXPECT_EQ(bank.substr(160 + 71 * k, 71), kZeroVoiceChunk) << "voice " << k;
  }
}

TEST(MakeVoiceChunk, FieldsInChunkOrderPanNowhere) {
  Voice v{};
  std::memcpy(v.name, "N\0me \"\n\xFF", 8);
  v.alg = 1, v.fb = 2, v.pms = 3, v.ams = 4, v.pan = 3;
  // ar, dr, sr, rr, sl, tl, ks, ml, dt, ams
  v.op[0] = Operator{10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
  v.op[1] = Operator{20, 21, 22, 23, 24, 25, 26, 27, 28, 29};
  v.op[2] = Operator{30, 31, 32, 33, 34, 35, 36, 37, 38, 39};
  v.op[3] = Operator{40, 41, 42, 43, 44, 45, 46, 47, 48, 49};
  const std::string expected = "\x01\x02\x04\x03"s + std::string(6, '\0') + "\xFF"s +
                               // tl, ar, dr, sl, sr, rr, ks, ml, dt, 0, ams
                               "\x0F\x0A\x0B\x0E\x0C\x0D\x10\x11\x12\x00\x13"s +
                               "\x19\x14\x15\x18\x16\x17\x1A\x1B\x1C\x00\x1D"s +
                               "\x23\x1E\x1F\x22\x20\x21\x24\x25\x26\x00\x27"s +
                               "\x2D\x28\x29\x2C\x2A\x2B\x2E\x2F\x30\x00\x31"s + "N\0me \"\n\xFF"s +
                               std::string(8, '\0');
  ASSERT_EQ(expected.size(), 71u);
  const VoiceChunk chunk = make_voice_chunk(v);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(chunk.bytes), 71), expected);
}

}  // namespace
