// Writes the demo source bank: eight named voices with easy-to-read values, then 120
// numbered copies of a plain sine voice. Encodes the record layout on its own, so the
// converter's decoder is not used to make its own test input.
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace {

struct DemoVoice {
  const char* name;
  int alg, fb, pms, ams, pan;
  int tl[4];  // operators 1 to 4
  int ar, dr, sr, rr, sl, ks, ml, dt;
};

const DemoVoice kVoices[] = {
    {"E.PIANO ", 4, 6, 0, 0, 3, {30, 0, 40, 0}, 31, 8, 2, 6, 3, 1, 1, 0},
    {"BRASS 1 ", 3, 5, 2, 0, 3, {25, 20, 30, 0}, 20, 4, 1, 8, 2, 0, 1, 3},
    {"STRINGS ", 1, 4, 3, 1, 3, {35, 30, 25, 0}, 15, 2, 0, 5, 1, 0, 2, 7},
    {"BASS    ", 0, 7, 0, 0, 3, {20, 35, 28, 0}, 31, 12, 4, 9, 4, 2, 1, 0},
    {"ORGAN   ", 7, 0, 4, 2, 3, {0, 0, 0, 0}, 31, 0, 0, 15, 0, 0, 2, 0},
    {"BELLS   ", 5, 3, 0, 0, 1, {10, 0, 0, 0}, 31, 6, 3, 4, 5, 1, 7, 2},
    {"FLUTE   ", 6, 2, 5, 3, 2, {45, 0, 0, 0}, 18, 1, 0, 7, 1, 0, 1, 0},
    {"SYN LEAD", 2, 15, 7, 3, 3, {15, 18, 22, 0}, 31, 127, 255, 10, 15, 3, 15, 15},
};

constexpr std::size_t kVoiceCount = 128;
constexpr std::size_t kRecordSize = 48;
constexpr std::size_t kHeaderSize = 8;
// Each 4-byte group holds operators 1, 3, 2, 4 in that order.
constexpr int kSlot[4] = {0, 2, 1, 3};

void encode(const DemoVoice& v, unsigned char* record) {
  std::memcpy(record, v.name, 8);
  for (int n = 0; n < 4; ++n) {
    unsigned char* g = record + kSlot[n];
    g[8] = static_cast<unsigned char>(v.dt << 4 | ((v.ml + n) & 0x0F));
    g[12] = static_cast<unsigned char>(v.tl[n]);
    g[16] = static_cast<unsigned char>(v.ks << 6 | v.ar);
    g[20] = static_cast<unsigned char>(v.dr);
    g[24] = static_cast<unsigned char>(v.sr);
    g[28] = static_cast<unsigned char>(v.sl << 4 | v.rr);
  }
  record[32] = static_cast<unsigned char>(v.fb << 3 | v.alg);
  record[33] = static_cast<unsigned char>(v.pan << 6 | v.ams << 4 | v.pms);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("usage:%s output.fmb\n", argv[0]);
    return 1;
  }
  static unsigned char image[kHeaderSize + kVoiceCount * kRecordSize];
  const DemoVoice sine = {"SINE    ", 7, 0, 0, 0, 3, {0, 127, 127, 127}, 31, 0, 0, 7, 0, 0, 1, 0};
  for (std::size_t i = 0; i < kVoiceCount; ++i) {
    unsigned char* record = image + kHeaderSize + i * kRecordSize;
    if (i < 8) {
      encode(kVoices[i], record);
    } else {
      encode(sine, record);
      char name[9];
      std::snprintf(name, sizeof name, "SINE %03zu", i);
      std::memcpy(record, name, 8);
    }
  }
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) return 1;
  const bool ok = std::fwrite(image, 1, sizeof image, out) == sizeof image;
  return std::fclose(out) == 0 && ok ? 0 : 1;
}
