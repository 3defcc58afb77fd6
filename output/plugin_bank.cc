// Writing the plug-in bank file.
#include "output/plugin_bank.h"

#include <cerrno>
#include <cstring>

#include "platform/platform.h"

namespace {

constexpr std::uint32_t fourcc(const char (&tag)[5]) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(tag[0])) << 24 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(tag[1])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(tag[2])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(tag[3]));
}

constexpr std::uint32_t kFormatVersion = 1;
constexpr std::uint32_t kPluginVersion = 1;
constexpr std::uint8_t kChunkMarker = 0xFF;
constexpr std::size_t kChunkMarkerOffset = 10;

void put_be32(std::FILE* out, std::uint32_t value) {
  const unsigned char bytes[4] = {
      static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
      static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
  std::fwrite(bytes, 1, sizeof bytes, out);
}

void put_header(std::FILE* out) {
  static const unsigned char reserved[kReservedSize] = {};
  put_be32(out, fourcc("CcnK"));
  put_be32(out, 0);
  put_be32(out, fourcc("FBCh"));
  put_be32(out, kFormatVersion);
  put_be32(out, fourcc("ZELK"));
  put_be32(out, kPluginVersion);
  put_be32(out, kVoiceCount);
  std::fwrite(reserved, 1, sizeof reserved, out);
  put_be32(out, kBankChunkSize);
}

bool is_separator(char c) {
  return c == '/' || (kBackslashSeparates && c == '\\');
}

// "./" (and ".\\" on Windows) name the folder the path starts from: a tab-completed
// "./bank.fmb" is "bank.fmb".
const char* skip_current_folder(const char* path) {
  while (path[0] == '.' && is_separator(path[1])) {
    path += 2;
    while (is_separator(*path)) ++path;
  }
  return path;
}

}  // namespace

std::size_t utf8_char_length(const char* text) {
  const unsigned char lead = static_cast<unsigned char>(text[0]);
  const std::size_t length = lead >= 0xF0 && lead <= 0xF4   ? 4
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xC2 && lead <= 0xDF ? 2
                                                            : 1;
  for (std::size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 1;
  }
  return length;
}

std::size_t stem_length(const char* text, CharLength char_length) {
  std::size_t length = 0;
  while (length < kOutputStemMax && text[length] != '\0' && text[length] != '.') {
    std::size_t next = length + char_length(text + length);
    // A lead byte that would pair with the "." (a broken name) counts alone.
    if (std::memchr(text + length, '.', next - length) != nullptr) next = length + 1;
    if (next > kOutputStemMax) break;
    length = next;
  }
  return length;
}

OutputName make_output_name(const char* argument) {
  argument = skip_current_folder(argument);
  OutputName name{};
  std::size_t length = 0;
  // On Windows the stem is cut in the system code page where it holds the argument.
  static char bytes[kCodePagePathMax];
  bool cut = false;
  if (to_system_code_page(argument, bytes)) {
    const std::size_t stem = stem_length(bytes, system_char_length);
    length = stem == 0 ? 0 : system_code_page_to_utf8(bytes, stem, name.text, kOutputStemUtf8Max);
    cut = stem == 0 || length != 0;
  }
  if (!cut) {
    length = stem_length(argument, utf8_char_length);
    std::memcpy(name.text, argument, length);
  }
  std::memcpy(name.text + length, ".fxb", sizeof ".fxb");
  return name;
}

VoiceChunk make_voice_chunk(const Voice& voice) {
  VoiceChunk chunk{};
  chunk.bytes[0] = voice.alg;
  chunk.bytes[1] = voice.fb;
  chunk.bytes[2] = voice.ams;
  chunk.bytes[3] = voice.pms;
  chunk.bytes[kChunkMarkerOffset] = kChunkMarker;
  std::uint8_t* block = chunk.bytes + kChunkOperatorsOffset;
  for (const Operator& op : voice.op) {
    const std::uint8_t values[kOperatorBlockSize] = {op.tl, op.ar, op.dr, op.sl, op.sr, op.rr,
                                                     op.ks, op.ml, op.dt, 0,     op.ams};
    std::memcpy(block, values, sizeof values);
    block += kOperatorBlockSize;
  }
  std::memcpy(chunk.bytes + kChunkNameOffset, voice.name, kNameSize);
  return chunk;
}

bool put_plugin_bank(std::FILE* out, const Voice (&voices)[kVoiceCount]) {
  put_header(out);
  for (const Voice& voice : voices) {
    const VoiceChunk chunk = make_voice_chunk(voice);
    std::fwrite(chunk.bytes, 1, sizeof chunk.bytes, out);
  }
  // The stream remembers a failed write; the flush reports the last buffered ones.
  return std::fflush(out) == 0 && !std::ferror(out);
}

int write_plugin_bank(const char* argument, const Voice (&voices)[kVoiceCount], BankError& error) {
  error.name = make_output_name(argument);
  error.left_behind = false;
  error.is_source = same_file(argument, error.name.text);
  if (error.is_source) return -1;

  PendingFile file;
  if (!begin_replace(error.name.text, file, error.reason)) return -1;
  // One buffer for the whole file: a single write, and no buffer for the library to allocate.
  char buffer[kBankFileSize];
  std::setvbuf(file.stream, buffer, _IOFBF, sizeof buffer);
  errno = 0;
  const int write_error = put_plugin_bank(file.stream, voices) ? 0 : errno != 0 ? errno : EIO;
  const bool written = finish_replace(file, write_error, error.reason);
  error.left_behind = file.left_behind;
  if (file.left_behind) std::memcpy(error.temp_path, file.temp_path, sizeof error.temp_path);
  return written ? 0 : -1;
}
