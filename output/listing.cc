// The voice listing. Each voice is one block:
//
//   {<TAB>"NAME....",
//   //<TAB>alg   fb  pms  ams  pan
//   <TAB>  a,   b,   c,   d,   e
//   //<TAB> ar   dr   sr   rr   sl   tl   ks   ml   dt   ams
//   <TAB>four lines of ten "%3d" columns, operators 1 to 4
//   },
//
// with no line end after "},", so the next block opens on the same line; one line end
// follows the last block. Name bytes are written raw, zero bytes and quotes included.
#include "output/listing.h"

namespace {

void print_voice(std::FILE* out, const Voice& v) {
  std::fputs("{\t\"", out);
  std::fwrite(v.name, 1, kNameSize, out);
  std::fputs("\",\n//\talg   fb  pms  ams  pan\n", out);
  std::fprintf(out, "\t%3d, %3d, %3d, %3d, %3d\n", v.alg, v.fb, v.pms, v.ams, v.pan);
  std::fputs("//\t ar   dr   sr   rr   sl   tl   ks   ml   dt   ams\n", out);
  for (const Operator& op : v.op) {
    std::fprintf(out, "\t%3d, %3d, %3d, %3d, %3d, %3d, %3d, %3d, %3d, %3d\n", op.ar, op.dr, op.sr,
                 op.rr, op.sl, op.tl, op.ks, op.ml, op.dt, op.ams);
  }
  std::fputs("},", out);
}

}  // namespace

void print_listing(std::FILE* out, const Voice (&voices)[kVoiceCount]) {
  for (const Voice& voice : voices) print_voice(out, voice);
  std::fputc('\n', out);
}
