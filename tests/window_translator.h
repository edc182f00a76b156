// The literal 100-byte window translator, kept as the oracle that the fast
// translator is compared with.
#pragma once

#include <string>
#include <string_view>

#include "dictionary.h"
#include "translator.h"

// Shifts a 100-byte window over in one byte at a time and tries every entry
// at every position; writes the progress line as translate does.
void window_translate_bytes(Trans_Tbl* head, std::string_view in, int relax, std::string& out);
// The same, telling observe of every entry counted and the offset of its text.
void window_translate_bytes(Trans_Tbl* head, std::string_view in, int relax, std::string& out,
                            const HitObserver& observe);
