// The voice listing: the decoded voices as initialiser text with line comments.
#pragma once

#include <cstdio>

#include "bank/source_bank.h"

// Writes the listing of all 128 voices to `out`. Output errors are not examined: a closed
// or full standard output must not stop the conversion.
void print_listing(std::FILE* out, const Voice (&voices)[kVoiceCount]);
