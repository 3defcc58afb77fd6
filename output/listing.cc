// The voice listing. Each voice is one block:
//
//   {<TAB>"NAME....",
//   //<TAB>alg   fb  pms  ams  pan
//   <TAB>  a,   b,   c,   d,   e
//   //<TAB> ar   dr   sr   rr   sl   tl   ks   ml   dt   ams
//   <TAB>four lines of ten columns, operators 1 to 4
//   },
//
// with no line end after "},", so the next block opens on the same line; one line end
// follows the last block. Name bytes are written raw, zero bytes and quotes included. Every
// column is a value right-aligned in three places, as "%3d" prints it; columns are separated
// by ", ".
#include "output/listing.h"

#include <array>
#include <cstring>
#include <initializer_list>

#include "platform/platform.h"

namespace {

constexpr char kVoiceComment[] = "//\talg   fb  pms  ams  pan\n";
constexpr char kOperatorComment[] = "//\t ar   dr   sr   rr   sl   tl   ks   ml   dt   ams\n";

// A block is at most this long: every value fits its three places.
constexpr std::size_t kBlockMax = 512;

using Column = std::array<char, 3>;

// The column of every byte value, so that no value needs a formatted-output call.
constexpr std::array<Column, 256> make_columns() {
  std::array<Column, 256> columns{};
  for (int value = 0; value < 256; ++value) {
    Column& c = columns[static_cast<std::size_t>(value)];
    c[0] = value >= 100 ? static_cast<char>('0' + value / 100) : ' ';
    c[1] = value >= 10 ? static_cast<char>('0' + value / 10 % 10) : ' ';
    c[2] = static_cast<char>('0' + value % 10);
  }
  return columns;
}
constexpr std::array<Column, 256> kColumns = make_columns();

char* put(char* at, const void* bytes, std::size_t size) {
  std::memcpy(at, bytes, size);
  return at + size;
}

template <std::size_t N>
char* put(char* at, const char (&text)[N]) {
  return put(at, text, N - 1);
}

// One line of values: a tab, the columns separated by ", ", a line end.
char* put_values(char* at, std::initializer_list<std::uint8_t> values) {
  at = put(at, "\t");
  for (const std::uint8_t* value = values.begin(); value != values.end(); ++value) {
    if (value != values.begin()) at = put(at, ", ");
    at = put(at, kColumns[*value].data(), 3);
  }
  return put(at, "\n");
}

// On a terminal, each byte of a control (see control_bytes) shows as "?".
void hide_controls(char* begin, const char* end) {
  for (char* c = begin; c != end;) {
    const std::size_t control = control_bytes(c, end);
    if (control == 0) {
      ++c;
    } else {
      c = static_cast<char*>(std::memset(c, '?', control)) + control;
    }
  }
}

void print_voice(std::FILE* out, const Voice& v, Names names) {
  char block[kBlockMax];
  char* at = put(block, "{\t\"");
  char* name = at;
  at = put(at, v.name, kNameSize);
  if (names == Names::kTerminal) hide_controls(name, at);
  at = put(at, "\",\n");
  at = put(at, kVoiceComment);
  at = put_values(at, {v.alg, v.fb, v.pms, v.ams, v.pan});
  at = put(at, kOperatorComment);
  for (const Operator& op : v.op) {
    at = put_values(at, {op.ar, op.dr, op.sr, op.rr, op.sl, op.tl, op.ks, op.ml, op.dt, op.ams});
  }
  at = put(at, "},");
  std::fwrite(block, 1, static_cast<std::size_t>(at - block), out);
}

}  // namespace

void print_listing(std::FILE* out, const Voice (&voices)[kVoiceCount], Names names) {
  for (const Voice& voice : voices) print_voice(out, voice, names);
  std::fputc('\n', out);
}
