// The voice listing, against text written out by hand from its format.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "output/listing.h"
#include "tests/test_support.h"

namespace {

using namespace std::string_literals;

Voice sample_voice() {
  Voice v{};
  std::memcpy(v.name, "Q\"\\ x\0yZ", 8);
  v.alg = 7, v.fb = 15, v.pms = 0, v.ams = 3, v.pan = 2;
  v.op[0] = Operator{31, 127, 255, 15, 0, 99, 3, 15, 15, 1};
  v.op[1] = Operator{0, 1, 10, 7, 15, 100, 0, 1, 4, 0};
  v.op[3] = Operator{1, 2, 3, 4, 5, 6, 1, 2, 3, 1};
  return v;
}

const std::string kSampleBlock =
    "{\t\"Q\"\\ x\0yZ\",\n"
    "//\talg   fb  pms  ams  pan\n"
    "\t  7,  15,   0,   3,   2\n"
    "//\t ar   dr   sr   rr   sl   tl   ks   ml   dt   ams\n"
    "\t 31, 127, 255,  15,   0,  99,   3,  15,  15,   1\n"
    "\t  0,   1,  10,   7,  15, 100,   0,   1,   4,   0\n"
    "\t  0,   0,   0,   0,   0,   0,   0,   0,   0,   0\n"
    "\t  1,   2,   3,   4,   5,   6,   1,   2,   3,   1\n"
    "},"s;

// A voice whose name holds a line end and whose values are all zero.
const std::string kLineEndNameBlock =
    "{\t\"AB\nCD\0\0\0\",\n"
    "//\talg   fb  pms  ams  pan\n"
    "\t  0,   0,   0,   0,   0\n"
    "//\t ar   dr   sr   rr   sl   tl   ks   ml   dt   ams\n"
    "\t  0,   0,   0,   0,   0,   0,   0,   0,   0,   0\n"
    "\t  0,   0,   0,   0,   0,   0,   0,   0,   0,   0\n"
    "\t  0,   0,   0,   0,   0,   0,   0,   0,   0,   0\n"
    "\t  0,   0,   0,   0,   0,   0,   0,   0,   0,   0\n"
    "},"s;

std::string listing_of(const Voice (&voices)[kVoiceCount]) {
  return capture([&](std::FILE* out) { print_listing(out, voices); });
}

TEST(PrintListing, BlocksAreTheFormatByteForByte) {
  Voice voices[kVoiceCount] = {};
  voices[0] = sample_voice();
  std::memcpy(voices[1].name, "AB\nCD\0\0\0", 8);
  const std::string text = listing_of(voices);
  EXPECT_EQ(text.substr(0, kSampleBlock.size()), kSampleBlock);
  EXPECT_EQ(text.substr(kSampleBlock.size(), kLineEndNameBlock.size()), kLineEndNameBlock);
}

TEST(PrintListing, BlocksShareLinesAndOneLineEndCloses) {
  Voice voices[kVoiceCount] = {};
  for (Voice& v : voices) v = sample_voice();
  const std::string text = listing_of(voices);
  EXPECT_EQ(text.size(), 128 * kSampleBlock.size() + 1);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1025);
  // Each "}," but the last is followed on its line by the next block's opening.
  std::size_t shared = 0;
  for (std::size_t at = text.find("},{\t\""); at != std::string::npos;
       at = text.find("},{\t\"", at + 1)) {
    EXPECT_EQ(text[at - 1], '\n');
    ++shared;
  }
  EXPECT_EQ(shared, 127u);
  EXPECT_EQ(text.substr(text.size() - 7), "  1\n},\n");
}

TEST(PrintListing, EveryNameLineEndAddsALine) {
  Voice voices[kVoiceCount] = {};
  std::memset(voices[5].name, '\n', kNameSize);
  std::memcpy(voices[127].name, "\n\r\x1a\0\n\n\n\n", 8);
  const std::string text = listing_of(voices);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1025 + 8 + 5);
}

}  // namespace
