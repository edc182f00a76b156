#include "file_plan.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "pe_image.h"

void FilePlan::keep(std::uint64_t offset, std::uint64_t size) {
    if (size == 0) return;
    pieces.push_back(FilePiece{PieceSource::copy, offset, size, {}});
}

void FilePlan::add(std::vector<unsigned char> bytes) {
    if (bytes.empty()) return;
    pieces.push_back(FilePiece{PieceSource::bytes, 0, 0, std::move(bytes)});
}

void FilePlan::add_program(std::uint64_t offset, std::uint64_t size) {
    if (size == 0) return;
    pieces.push_back(FilePiece{PieceSource::program, offset, size, {}});
}

void FilePlan::put16(std::uint64_t at, std::uint32_t v) {
    patches.push_back(FilePatch{at, {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8)}});
}

void FilePlan::put32(std::uint64_t at, std::uint32_t v) {
    patches.push_back(FilePatch{at, {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                     static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)}});
}

std::uint64_t FilePlan::new_size() const {
    std::uint64_t n = 0;
    for (const FilePiece& p : pieces) n += p.length();
    return n;
}

// E.g. copy [0, 100), copy [300, 400) with [50, 350) taken: copy [0, 50),
// program [50, 100), program [300, 350), copy [350, 400).
void take_from_program(FilePlan& plan, std::uint64_t begin, std::uint64_t end) {
    std::vector<FilePiece> pieces;
    for (FilePiece& p : plan.pieces) {
        const std::uint64_t from = std::max(begin, p.offset), to = std::min(end, p.offset + p.size);
        if (p.source != PieceSource::copy || from >= to) {
            pieces.push_back(std::move(p));
            continue;
        }
        if (p.offset < from) pieces.push_back(FilePiece{PieceSource::copy, p.offset, from - p.offset, {}});
        pieces.push_back(FilePiece{PieceSource::program, from, to - from, {}});
        if (to < p.offset + p.size) pieces.push_back(FilePiece{PieceSource::copy, to, p.offset + p.size - to, {}});
    }
    plan.pieces = std::move(pieces);
}

// Words at even file offsets: with "MZ" then 0x90 0x00 in two calls of
// 3 and 1 bytes, the first adds 0x5A4D and the low byte 0x90 (odd_ set),
// the second adds 0x00 << 8. Summing without folding is the same sum: an
// end-around carry is addition modulo 0xFFFF, and the fold at the end keeps
// 0 only for all-zero words, as the step-by-step fold does. 2^48 words
// cannot overflow the 64 bits.
void PeChecksum::add(const unsigned char* data, std::size_t n) {
    length_ += n;
    if (n == 0) return;
    if (odd_) {
        sum_ += std::uint64_t{data[0]} << 8;
        ++data;
        --n;
        odd_ = false;
    }
    // Four words at a time: 8 bytes read as one little-endian x give the
    // words w0..w3 as x's 16-bit lanes; (x & M) + (x >> 16 & M) with
    // M = 0x0000FFFF0000FFFF holds w0 + w1 in bits 0-31 and w2 + w3 in bits
    // 32-63, each at most 0x1FFFE, so 2^15 such sums fit a 32-bit lane.
    constexpr std::uint64_t kLanes = 0x0000FFFF0000FFFFULL;
    constexpr std::size_t kRun = std::size_t{1} << 15;
    std::size_t i = 0;
    while (n - i >= 8) {
        std::uint64_t lanes = 0;
        const std::size_t run = std::min(kRun, (n - i) / 8);
        for (std::size_t k = 0; k < run; ++k, i += 8) {
            const std::uint64_t x = le64(data + i);
            lanes += (x & kLanes) + (x >> 16 & kLanes);
        }
        sum_ += (lanes & 0xFFFFFFFF) + (lanes >> 32);
    }
    for (; i + 1 < n; i += 2) sum_ += data[i] | std::uint32_t{data[i + 1]} << 8;
    assert(n - i <= 1);
    if (n % 2 != 0) {
        sum_ += data[n - 1];
        odd_ = true;
    }
}

std::uint32_t PeChecksum::value() const {
    std::uint64_t sum = sum_;
    while ((sum >> 16) != 0) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + length_);
}

bool FileSplice::emit(const unsigned char* data, std::size_t n) {
    if (n == 0) return true;
    const std::uint64_t end = written_ + n;
    bool copied = false;
    for (const FilePatch& p : plan_.patches) {
        if (p.at >= end || p.at + p.bytes.size() <= written_) continue;
        if (!copied) {
            patched_.assign(data, data + n);
            data = patched_.data();
            copied = true;
        }
        for (std::size_t i = 0; i < p.bytes.size(); ++i) {
            if (p.at + i >= written_ && p.at + i < end) patched_[p.at + i - written_] = p.bytes[i];
        }
    }
    if (plan_.checksum_at && *plan_.checksum_at < end && *plan_.checksum_at + 4 > written_) {
        if (!copied) {
            patched_.assign(data, data + n);
            data = patched_.data();
        }
        for (std::uint64_t i = 0; i < 4; ++i) {
            const std::uint64_t at = *plan_.checksum_at + i;
            if (at >= written_ && at < end) patched_[at - written_] = 0;
        }
    }
    if (plan_.checksum_at) checksum_.add(data, n);
    written_ = end;
    return emit_(data, n);
}

bool FileSplice::due() {
    for (; piece_ < plan_.pieces.size() && plan_.pieces[piece_].source != PieceSource::copy; ++piece_) {
        const FilePiece& p = plan_.pieces[piece_];
        if (p.source == PieceSource::bytes) {
            if (!emit(p.bytes.data(), p.bytes.size())) return false;
            continue;
        }
        constexpr std::uint64_t kBlock = std::uint64_t{1} << 18;
        block_.resize(static_cast<std::size_t>(std::min(kBlock, p.size)));
        for (std::uint64_t at = 0; at < p.size; at += kBlock) {
            const auto n = static_cast<std::size_t>(std::min(kBlock, p.size - at));
            if (program_ == nullptr || !program_->read(p.offset + at, block_.data(), n)) {
                program_failed_ = true;
                return false;
            }
            if (!emit(block_.data(), n)) return false;
        }
    }
    return true;
}

// E.g. pieces copy [0, 100), 50 bytes, copy [300, 400): of a put of the
// copy's [64, 320), 36 go out, then the 50, then none of [100, 300), then
// 20 of [300, 320).
bool FileSplice::put(const unsigned char* data, std::size_t n) {
    const std::uint64_t begin = read_, end = read_ + n;
    read_ = end;
    for (;;) {
        if (!due()) return false;
        if (piece_ == plan_.pieces.size()) return true;
        const FilePiece& p = plan_.pieces[piece_];
        const std::uint64_t from = std::max(begin, p.offset), to = std::min(end, p.offset + p.size);
        if (from < to && !emit(data + (from - begin), static_cast<std::size_t>(to - from))) return false;
        if (end < p.offset + p.size) return true;
        ++piece_;
    }
}

bool FileSplice::finish() {
    if (!due()) return false;
    return piece_ == plan_.pieces.size();
}

std::vector<unsigned char> spliced(const FilePlan& plan, const unsigned char* old, std::size_t size) {
    std::vector<unsigned char> out;
    out.reserve(static_cast<std::size_t>(plan.new_size()));
    FileBytes program(old, size);
    FileSplice splice(
        plan,
        [&out](const unsigned char* data, std::size_t n) {
            out.insert(out.end(), data, data + n);
            return true;
        },
        &program);
    if (!splice.put(old, size) || !splice.finish()) return {};
    if (plan.checksum_at) {
        const std::uint32_t sum = splice.checksum();
        for (std::uint64_t i = 0; i < 4; ++i) out[*plan.checksum_at + i] = static_cast<unsigned char>(sum >> (8 * i));
    }
    return out;
}
