// The voice listing: the decoded voices as initialiser text with line comments.
#pragma once

#include <cstdio>

#include "bank/source_bank.h"

// How name bytes are written: raw, byte-exact for a file or a pipe; or, for a terminal, with
// each control byte (0x00 to 0x1F, 0x7F) as "?", and on POSIX each UTF-8 C1 control
// (C2 80 to C2 9F) as "??", so that a name cannot move the cursor or send the terminal
// commands. Other bytes from 0x80 up pass, as parts of multi-byte characters.
enum class Names { kRaw, kTerminal };

// Writes the listing of all 128 voices to `out`. Output errors are not examined: a closed
// or full standard output must not stop the conversion.
void print_listing(std::FILE* out, const Voice (&voices)[kVoiceCount], Names names = Names::kRaw);
