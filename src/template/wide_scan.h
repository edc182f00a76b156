// The scan of UTF-16LE texts: the texts of a program file that the wide
// pass could replace at its most relaxed level, for the dictionary template.
#pragma once

#include <cstddef>
#include <cstdio>

#include "string_scan.h"

// Reads file to its end and hands visit, in order of offset, the UTF-8 form
// of texts of 1 to kLongestOriginal UTF-8 bytes at even offsets p >= 2, in
// the shapes of wide_shapes.h:
//  - terminated: a zero unit follows it, and it is the longest run of text
//    units (printable ASCII, tab, LF, CR, any character from U+00A0 but
//    those made of two printable ASCII bytes) before that zero, so that the
//    flags or id word of a menu item stays out of it;
//  - counted: the unit at p - 2 is its length in units, and every unit of it
//    is a text unit.
// At most one text is handed at p, the one vorlang is to apply there when
// the template lists every text handed: where both shapes hold a text, the
// terminated one (the counted one is a menu text's prefix, cut by its id
// word), unless counted texts fill it from p (string table entries) or
// from p + 2 (a count begins it). No text is handed that begins inside one
// handed before it, which vorlang's walk passes over. block is the read size.
ScanStatus scan_wide_strings(std::FILE* file, const ScanVisitor& visit, std::size_t block = kBlockSize);
