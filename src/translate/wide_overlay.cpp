#include "wide_overlay.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace {

std::int64_t end_of(const Patch& p) { return p.offset + static_cast<std::int64_t>(p.len); }

// The first patch of list that ends after offset.
std::size_t first_ending_after(const std::vector<Patch>& list, std::int64_t offset) {
    auto it = std::partition_point(list.begin(), list.end(), [&](const Patch& p) { return end_of(p) <= offset; });
    return static_cast<std::size_t>(it - list.begin());
}

// Writes the part of each patch of list from index i on that lies in the
// copy of the bytes from w0 to w1.
void write_in(const std::vector<Patch>& list, std::size_t i, std::vector<unsigned char>& copy, std::int64_t w0,
              std::int64_t w1) {
    for (; i < list.size() && list[i].offset < w1; ++i) {
        const Patch& p = list[i];
        if (p.bytes == nullptr) continue;  // taken into a piece, which holds its bytes
        const std::int64_t from = std::max(p.offset, w0);
        const std::int64_t to = std::min(end_of(p), w1);
        if (from < to) {
            std::memcpy(copy.data() + (from - w0), p.bytes + (from - p.offset), static_cast<std::size_t>(to - from));
        }
    }
}

// Joins the patches made or met by a walk over the copy (those that end
// after q0, where it began) that overlap into pieces of their own, taken
// from the copy, which holds what both passes left from w0 to w1. E.g. the
// wide replacement at 100 to 120 and the byte patch at 110 to 140 become
// one piece, 100 to 140; the byte patch stays in bytes, its bytes null.
void join_overlaps(WideOverlay& o, std::vector<Patch>& bytes, std::size_t first_byte, std::int64_t q0,
                   std::int64_t w0, std::int64_t w1) {
    const std::size_t first_piece = first_ending_after(o.pieces, q0);
    std::size_t b = std::max(first_byte, first_ending_after(bytes, q0));
    std::size_t w = first_piece;
    std::vector<Patch> joined;
    // The cluster being gathered: its span, its members.
    std::int64_t lo = 0;
    std::int64_t hi = -1;
    std::vector<std::size_t> byte_members;
    std::size_t wide_members = 0;
    Patch lone{};
    auto close = [&] {
        if (hi < 0) return;
        if (byte_members.size() + wide_members == 1) {
            if (wide_members == 1) joined.push_back(lone);
        } else {
            assert(lo >= w0 && hi <= w1);
            const auto len = static_cast<std::size_t>(hi - lo);
            auto owned = std::make_unique<unsigned char[]>(len);
            std::memcpy(owned.get(), o.copy.data() + (lo - w0), len);
            joined.push_back(Patch{lo, owned.get(), len});
            o.owned.emplace_back(hi, std::move(owned));
            for (std::size_t k : byte_members) bytes[k].bytes = nullptr;
        }
        byte_members.clear();
        wide_members = 0;
        hi = -1;
    };
    for (;;) {
        while (b < bytes.size() && bytes[b].bytes == nullptr && bytes[b].offset < w1) ++b;
        const bool byte_left = b < bytes.size() && bytes[b].offset < w1;
        const bool wide_left = w < o.pieces.size();
        if (!byte_left && !wide_left) break;
        const bool take_byte = byte_left && (!wide_left || bytes[b].offset < o.pieces[w].offset);
        const Patch& p = take_byte ? bytes[b] : o.pieces[w];
        if (p.offset >= hi) {
            close();
            lo = p.offset;
        }
        hi = std::max(hi, end_of(p));
        if (take_byte) {
            byte_members.push_back(b++);
        } else {
            lone = o.pieces[w++];
            ++wide_members;
        }
    }
    close();
    o.pieces.resize(first_piece);
    o.pieces.insert(o.pieces.end(), joined.begin(), joined.end());
}

// Walks the offsets from s.next up to b over a copy of the bytes they may
// read, with the patches of both passes written in.
void walk_copy(WideScan& s, WideOverlay& o, const unsigned char* map, std::int64_t limit,
               std::vector<Patch>& bytes, std::size_t first_byte, std::int64_t b, std::int64_t reach) {
    const std::int64_t q0 = s.next;
    // From the unit before q0, or the first patch that ends after it.
    std::int64_t w0 = q0 - 2;
    std::size_t k = std::max(first_byte, first_ending_after(bytes, w0));
    if (k < bytes.size()) w0 = std::min(w0, bytes[k].offset);
    const std::size_t m = first_ending_after(o.pieces, q0 - 2);
    if (m < o.pieces.size()) w0 = std::min(w0, o.pieces[m].offset);
    const std::int64_t w1 = std::min(limit, b + reach);
    o.copy.assign(map + w0, map + w1);
    write_in(bytes, first_ending_after(bytes, w0), o.copy, w0, w1);
    write_in(o.pieces, first_ending_after(o.pieces, w0), o.copy, w0, w1);
    const std::size_t made = o.pieces.size();
    s.write_buf = true;
    wide_decide(s, o.copy.data(), w0, b, w1);
    s.write_buf = false;
    forget_zero(s);
    if (o.pieces.size() != made) join_overlaps(o, bytes, first_byte, q0, w0, w1);
}

}  // namespace

// The offsets whose tests read a byte patch at p to p + len lie from
// p - reach + 1 to p + len + 1 (the unit before an offset is read), so the
// walk goes over the copy from p - reach to p + len + 2, and a run of such
// spans that meet is one span.
void walk_overlay(WideScan& s, WideOverlay& o, const unsigned char* map, std::int64_t limit,
                  std::vector<Patch>& bytes, std::int64_t until, std::int64_t reach) {
    s.patches = &o.pieces;
    s.write_buf = false;
    auto* mapped = const_cast<unsigned char*>(map);  // never written to: write_buf is false
    std::size_t i = first_ending_after(bytes, s.next - 2);
    while (s.next < until) {
        while (i < bytes.size() && end_of(bytes[i]) + 2 <= s.next) ++i;
        const bool clear = i == bytes.size();
        const std::int64_t near = clear ? until : bytes[i].offset - reach - ((bytes[i].offset - reach) & 1);
        if (clear || near > s.next) {
            const std::int64_t b = std::min(near, until);
            assert(b + reach <= limit || b == until);
            wide_decide(s, mapped, 0, b, std::min(limit, b + reach));
            forget_zero(s);
            continue;
        }
        std::int64_t b = end_of(bytes[i]) + 2;
        for (std::size_t j = i + 1; j < bytes.size() && bytes[j].offset - reach < b; ++j) {
            b = std::max(b, end_of(bytes[j]) + 2);
        }
        b = std::min(b + (b & 1), until);
        if (s.next < b) walk_copy(s, o, map, limit, bytes, i, b, reach);
    }
    s.patches = nullptr;
    s.write_buf = true;
}

std::int64_t between_patches(const std::vector<Patch>& bytes, const WideOverlay& o, std::int64_t kept) {
    for (;;) {
        std::int64_t moved = kept;
        for (const std::vector<Patch>* list : {&bytes, &o.pieces}) {
            const std::size_t k = first_ending_after(*list, moved);
            if (k < list->size() && (*list)[k].offset < moved) moved = (*list)[k].offset;
        }
        if (moved == kept) return kept;
        kept = moved;
    }
}

void take_patches(std::vector<Patch>& bytes, WideOverlay& o, std::int64_t kept, std::vector<Patch>& out) {
    auto before = [&](const Patch& p) { return p.offset < kept; };
    const auto nb = std::partition_point(bytes.begin(), bytes.end(), before);
    const auto nw = std::partition_point(o.pieces.begin(), o.pieces.end(), before);
    out.clear();
    out.reserve(static_cast<std::size_t>((nb - bytes.begin()) + (nw - o.pieces.begin())));
    auto b = bytes.begin();
    auto w = o.pieces.begin();
    while (b != nb || w != nw) {
        if (b != nb && b->bytes == nullptr) {
            ++b;
        } else if (w == nw || (b != nb && b->offset < w->offset)) {
            out.push_back(*b++);
        } else {
            out.push_back(*w++);
        }
    }
    for (std::size_t k = 1; k < out.size(); ++k) assert(end_of(out[k - 1]) <= out[k].offset);
    assert(out.empty() || end_of(out.back()) <= kept);
    bytes.erase(bytes.begin(), nb);
    o.pieces.erase(o.pieces.begin(), nw);
}

void release_pieces(WideOverlay& o, std::int64_t offset) {
    while (!o.owned.empty() && o.owned.front().first <= offset) o.owned.pop_front();
}
