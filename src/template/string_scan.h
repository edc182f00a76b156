// The scan of zero-terminated strings: the texts of a program file that the
// translator compares at its strict level.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string_view>

#include "text_limits.h"

enum class ScanStatus { ok, stopped, read_error, out_of_memory };

// Receives the offset of a text and its bytes (valid only during the call);
// returns false to stop the scan. It must not throw.
using ScanVisitor = std::function<bool(std::uint64_t offset, std::string_view text)>;

// Reads file to its end and hands visit every text, in file order, that
// starts at an offset p with 1 <= p <= size - kLookAhead, has a 0 byte at
// p - 1 and runs 1 to kLongestOriginal bytes to the next 0 byte. block is
// the read size (tests use small ones to cross block boundaries).
ScanStatus scan_strings(std::FILE* file, const ScanVisitor& visit, std::size_t block = kBlockSize);
