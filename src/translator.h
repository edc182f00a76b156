// The translator: copies the program file to its translated copy, replacing
// every dictionary text that stands in it as a zero-terminated string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "dictionary.h"
#include "message_sink.h"
#include "relax.h"

// Told of every replacement: an entry that made it and the file offset of
// the text. Only a companion that asks where texts stand sets one.
using HitObserver = std::function<void(const Trans_Tbl* entry, std::int64_t offset)>;

// A progress line ("100000      \r") goes to the progress sink after every
// this many bytes.
constexpr std::int64_t kProgressStep = 100000;

enum class TranslateStatus { ok, read_error, write_error, out_of_memory };

// Reads prog to its end and writes the translated copy to out, flushed;
// closes neither: their owners do. Counts every replacement in its entry
// and tells progress the progress lines. The result is the one the 100-byte
// window would give, found without sliding it: see translator.cpp. With
// wide, the UTF-16 texts of that result are then replaced too (see
// wide_pass.h), in the same reading of the file.
TranslateStatus translate(Trans_Tbl* head, std::FILE* prog, std::FILE* out, int relax, bool wide,
                          const MessageSink& progress);

// The same, reading blocks of the given size (tests use tiny ones); without
// a progress sink, silent.
TranslateStatus translate_blocks(Trans_Tbl* head, std::FILE* prog, std::FILE* out, int relax,
                                 std::size_t block, bool wide = false, const MessageSink& progress = {});

// Reads prog to its end as translate does, at the same places and with the
// same counts, and tells observe of every replacement, but writes no copy.
// Blocks of block bytes are read (tests use tiny ones).
TranslateStatus find_texts(Trans_Tbl* head, std::FILE* prog, int relax, bool wide, const HitObserver& observe,
                           std::size_t block = kBlockSize);

// The same over bytes held in memory; the copy is returned in out.
void translate_bytes(Trans_Tbl* head, std::string_view in, int relax, std::string& out, bool wide = false,
                     const MessageSink& progress = {});
