// The wide pass over a program read through a read-only mapping: it must see
// the copy as the byte pass left it, but the byte pass kept its replacements
// apart (patches) and the mapping is never written to. Far from every byte
// patch the mapping is that copy, and the walk reads it in place, keeping its
// own replacements apart too; near one, the walk reads a small copy of the
// bytes with the patches written in. So no byte is copied before the scan,
// as the stream copies every byte (the read), and the copy goes out from the
// mapping with both passes' patches among it.
//
// E.g. reach 200 (the bytes an offset's test may read from it) and one byte
// patch at 5,000 to 5,010: the offsets 4,800 to 5,012 are walked over a copy
// of the bytes from 4,798 with the patch in it; all the others over the
// mapping. A wide text replaced there that overlaps the byte patch (a byte
// string inside a UTF-16 text, at a relaxed level) goes out as one piece
// holding both, taken from that copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include "block_writer.h"
#include "wide_pass.h"

struct WideOverlay {
    // The wide pass's replacements and the pieces that hold a wide and a
    // byte replacement that overlap, not yet written: ascending, apart.
    std::vector<Patch> pieces;
    std::vector<unsigned char> copy;  // the bytes walked near a byte patch
    // The bytes of the pieces made here, with the offset their piece ends at.
    std::deque<std::pair<std::int64_t, std::unique_ptr<unsigned char[]>>> owned;
};

// Decides the wide pass's even offsets from s.next up to until over the
// bytes at map, reading none from limit on (the file's size, or the offset
// after a zero unit, which no text runs across), with the byte patches
// bytes (ascending, apart, all that may lie before until + reach); reach is
// what an offset's test may read after it, and until + reach <= limit
// unless until is limit. The replacements go to overlay.pieces; a byte
// patch that a piece takes in is left in bytes with its bytes null. Throws
// std::bad_alloc.
void walk_overlay(WideScan& s, WideOverlay& overlay, const unsigned char* map, std::int64_t limit,
                  std::vector<Patch>& bytes, std::int64_t until, std::int64_t reach);

// The offset at or before kept that no patch of either list runs across.
std::int64_t between_patches(const std::vector<Patch>& bytes, const WideOverlay& overlay, std::int64_t kept);

// Moves the patches that begin before kept, of both lists, into out in
// ascending order (none runs across kept). Throws std::bad_alloc.
void take_patches(std::vector<Patch>& bytes, WideOverlay& overlay, std::int64_t kept, std::vector<Patch>& out);

// Frees the bytes of the pieces that end at or before offset, once written.
void release_pieces(WideOverlay& overlay, std::int64_t offset);
