// Feeds arbitrary bytes through the whole conversion: load them as a source bank file, decode
// the 128 voices, render the listing and the plug-in bank into memory, and check what must
// hold for every input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <unistd.h>

#include "bank/source_bank.h"
#include "output/listing.h"
#include "output/plugin_bank.h"

namespace {

constexpr std::size_t kListingBlockSize = 321;  // 14 + 27 + 25 + 53 + 4 * 50 + 2
constexpr std::size_t kListingSize = kVoiceCount * kListingBlockSize + 1;

const char kHeader[] =
    "CcnK\0\0\0\0FBCh\0\0\0\x01ZELK\0\0\0\x01\0\0\0\x80";  // then 128 zeros, 00 00 23 80

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
  }
}

// The input, written as a file would be, once per run of the harness.
const char* input_path() {
  static char path[64] = "";
  if (path[0] == '\0') {
    std::snprintf(path, sizeof path, "/tmp/fuzz_conversion.%ld.fmb", static_cast<long>(getpid()));
    std::atexit([] { std::remove(input_path()); });
  }
  return path;
}

void write_input(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(input_path(), "wb");
  check(file != nullptr, "the input file can be created");
  check(std::fwrite(data, 1, size, file) == size, "the input file can be written");
  check(std::fclose(file) == 0, "the input file can be closed");
}

// The source byte at `offset` as the image holds it: zero past the end of the input.
std::uint8_t source_byte(const std::uint8_t* data, std::size_t size, std::size_t offset) {
  return offset < size && offset < kBankImageSize ? data[offset] : 0;
}

void check_listing(const char* text, std::size_t size, const std::uint8_t* data,
                   std::size_t input_size) {
  check(size == kListingSize, "the listing has a fixed size");
  std::size_t expected_lines = 1025;
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    const std::size_t block = v * kListingBlockSize;
    check(std::memcmp(text + block, "{\t\"", 3) == 0, "each block opens at its place");
    for (std::size_t i = 0; i < kNameSize; ++i) {
      const std::uint8_t byte = source_byte(data, input_size, 8 + v * kRecordSize + i);
      check(static_cast<std::uint8_t>(text[block + 3 + i]) == byte, "the name is written raw");
      if (byte == '\n') ++expected_lines;
    }
  }
  std::size_t lines = 0;
  for (std::size_t i = 0; i < size; ++i) lines += text[i] == '\n';
  check(lines == expected_lines, "1025 line ends plus one per name byte 10");
  check(std::memcmp(text + size - 3, "},\n", 3) == 0, "the listing ends with the last \"},\"");
}

void check_bank(const std::uint8_t* bank, std::size_t size, const std::uint8_t* data,
                std::size_t input_size) {
  check(size == kBankFileSize, "the bank is 9248 bytes");
  check(std::memcmp(bank, kHeader, 28) == 0, "the fixed header");
  for (std::size_t i = 28; i < 156; ++i) check(bank[i] == 0, "the reserved bytes are zero");
  check(bank[156] == 0 && bank[157] == 0 && bank[158] == 0x23 && bank[159] == 0x80,
        "the chunk size is 9088");
  for (std::size_t v = 0; v < kVoiceCount; ++v) {
    const std::uint8_t* chunk = bank + kBankHeaderSize + v * kChunkSize;
    check(chunk[0] <= 7 && chunk[1] <= 15 && chunk[2] <= 3 && chunk[3] <= 7,
          "voice values in range");
    check(chunk[10] == 0xFF, "the chunk marker");
    for (std::size_t z :
         {4u, 5u, 6u, 7u, 8u, 9u, 20u, 31u, 42u, 53u, 63u, 64u, 65u, 66u, 67u, 68u, 69u, 70u}) {
      check(chunk[z] == 0, "the zero bytes of the chunk");
    }
    for (std::size_t i = 0; i < kNameSize; ++i) {
      check(chunk[55 + i] == source_byte(data, input_size, 8 + v * kRecordSize + i),
            "the bank's name bytes are the record's");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  write_input(data, size);
  SourceBank bank;
  check(load_source_bank(input_path(), bank) == 0, "any file can be loaded");
  static Voice voices[kVoiceCount];
  for (std::size_t i = 0; i < kVoiceCount; ++i) voices[i] = decode_voice(bank, i);

  char* listing = nullptr;
  std::size_t listing_size = 0;
  std::FILE* out = open_memstream(&listing, &listing_size);
  print_listing(out, voices);
  std::fclose(out);
  check_listing(listing, listing_size, data, size);
  std::free(listing);

  char* plugin_bank = nullptr;
  std::size_t bank_size = 0;
  out = open_memstream(&plugin_bank, &bank_size);
  check(put_plugin_bank(out, voices), "the bank can be written");
  std::fclose(out);
  check_bank(reinterpret_cast<const std::uint8_t*>(plugin_bank), bank_size, data, size);
  std::free(plugin_bank);

  // The first bytes as an argument: an output name of at most 8 bytes and ".fxb".
  char argument[32] = {};
  std::memcpy(argument, data, size < sizeof argument - 1 ? size : sizeof argument - 1);
  const OutputName name = make_output_name(argument);
  const std::size_t length = std::strlen(name.text);
  check(length >= 4 && length <= 12 && std::strcmp(name.text + length - 4, ".fxb") == 0,
        "an output name is at most 8 bytes and \".fxb\"");
  return 0;
}
