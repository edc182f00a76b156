// The literal 100-byte window translator, kept as the oracle that the fast
// translator is compared with.
#pragma once

#include <string>
#include <string_view>

#include "dictionary.h"
#include "message_sink.h"
#include "translator.h"

// Shifts a 100-byte window (longer when an original is longer than 97
// bytes) over in one byte at a time and tries every entry at every position; tells progress the progress lines as translate does,
// and observe (where given) of every entry counted and the offset of its text.
void window_translate_bytes(Trans_Tbl* head, std::string_view in, int relax, std::string& out,
                            const MessageSink& progress = {}, const HitObserver* observe = nullptr);
