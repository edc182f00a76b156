// The translator: copies the program file to its translated copy, replacing
// every dictionary text that stands in it as a zero-terminated string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "dictionary.h"

// The relax levels: what the byte before a text may be.
constexpr int kRelaxStrict = 0;  // a 0 byte only
constexpr int kRelaxNonAlnum = 1;  // any byte that is no ASCII letter or digit
constexpr int kRelaxAny = 3;  // any byte

// A progress line is written after every this many bytes.
constexpr std::int64_t kProgressStep = 100000;

enum class TranslateStatus { ok, read_error, write_error, out_of_memory };

// The block size translate reads and writes with.
constexpr std::size_t kBlockSize = std::size_t{1} << 20;

// Reads prog to its end, writes the translated copy to out and closes out
// (not prog). Counts every replacement in its entry and writes the progress
// line to standard output. The result is the one the 100-byte window would
// give, found without sliding it: see translator.cpp.
TranslateStatus translate(Trans_Tbl* head, std::FILE* prog, std::FILE* out, int relax);

// The same, reading blocks of the given size (tests use tiny ones).
TranslateStatus translate_blocks(Trans_Tbl* head, std::FILE* prog, std::FILE* out, int relax,
                                 std::size_t block);

// The same over bytes held in memory; the copy is returned in out.
void translate_bytes(Trans_Tbl* head, std::string_view in, int relax, std::string& out);
