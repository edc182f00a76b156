// The sizes that the dictionary reader, the window, the translator and the
// scans share.
#pragma once

#include <cstddef>

// The dictionary reader takes a line in pieces of at most this many
// characters, LF included; a text field holds a piece and its terminator.
constexpr std::size_t kReadPiece = 99;
constexpr std::size_t kTextField = kReadPiece + 1;

// The longest original the reader gives: one separator and a one-character
// replacement share its piece.
constexpr std::size_t kLongestOriginal = kReadPiece - 2;

// The window: position 0 holds the byte written next, the look-ahead after
// it the bytes in which texts are compared and replaced.
constexpr std::size_t kWindow = 100;
constexpr std::size_t kLookAhead = kWindow - 1;

// The longest text the window can compare: it and its terminating zero fill
// the look-ahead.
constexpr std::size_t kLongestMatch = kLookAhead - 1;

static_assert(kLongestOriginal < kLongestMatch, "every original the reader gives fits the window");

// The longest text, original or translation, that a PO catalogue gives. The
// translator finds an original longer than kLongestMatch as a window long
// enough to hold it would: at the offsets the 100-byte window compares
// (never one in the file's last kLookAhead - 1 bytes), its terminating zero
// within the file. Shorter originals, all the plain dictionary has, are
// found exactly as the 100-byte window finds them.
constexpr std::size_t kLongestCatalogueText = 4096;

// The UTF-16 passes: a decision at an even offset q reads no byte at
// q + kWideReach or after; the longest original's units and the zero unit
// after them lie before it (a catalogue's longer originals reach further:
// 2 units more than their count).
constexpr std::size_t kWideReach = 2 * kTextField;
static_assert(kWideReach >= 2 * (kLongestOriginal + 1), "the longest wide text and its zero lie in reach");

// Bytes the translator and the scans read at a time; memory does not grow
// with the file.
constexpr std::size_t kBlockSize = std::size_t{1} << 20;
