// The translator gives exactly what a 100-byte window gives that slides over
// the file one byte at a time and tries every entry at every position, but
// without sliding it. Why the two agree:
//
// A comparison at offset p (1 <= p <= size - 99) matches only when the bytes
// from p up to the next zero byte are an entry's original, so only the end of
// a zero-terminated string can match, and one string can be matched at one
// offset at most: a match makes the window skip to the string's terminating
// zero, and the texts it leaves behind end in zeros that no original begins
// with. Strictly, the byte before p must be 0, so only a whole string can
// match; relaxed, the leftmost offset in the string whose byte before passes
// and whose text up to the zero is an original wins. Every byte tested is
// still as it was read. What the chain of entries does at one offset depends
// only on the original (see text_index.h).
//
// The file is read in blocks. A string is decided once its zero byte is read
// and the file is known to reach 99 bytes past any offset it may match at; the
// bytes that a later decision may still change or test are held back.
#include "translator.h"

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstring>
#include <new>
#include <vector>

#include "text_index.h"

namespace {

constexpr std::int64_t kLook = 99;  // the window's look-ahead
// Held back between blocks: an undecided zero lies in the last 99 bytes read,
// and its string's match and the byte before it in the 99 bytes before that.
constexpr std::size_t kHeld = 256;

bool is_ascii_alnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The test of a byte before a text that is not 0.
bool passes(unsigned char before, int relax) {
    if (relax <= 2 && is_ascii_alnum(before)) return false;
    return relax != 0;
}

// counted: the bytes read after the first 99.
void show_progress(std::int64_t& shown, std::int64_t counted) {
    while (counted - shown >= kProgressStep) {
        shown += kProgressStep;
        std::printf("%" PRId64 "      \r", shown);
        std::fflush(stdout);
    }
}

// Where the scan stands, in file offsets.
struct Scan {
    TextIndex& index;
    int relax;
    std::int64_t last_zero = -1;  // the last zero byte decided, -1 before the first
    std::int64_t decided = 0;     // every zero byte before this offset is decided
};

void apply(TextIndex& x, unsigned char* at, std::int32_t id, bool risky) {
    const Original& o = x.originals[static_cast<std::size_t>(id)];
    std::memcpy(at, o.result, o.len);
    ++(risky ? x.risky : x.clean)[static_cast<std::size_t>(id)];
}

// The string from start to the zero byte at offset zero, both in buf, which
// holds the file from offset base; a match may begin up to last_start.
inline void decide_whole(TextIndex& x, unsigned char* buf, std::int64_t base, std::int64_t start,
                         std::int64_t zero, std::int64_t last_start) {
    auto len = static_cast<std::size_t>(zero - start);
    // start 0 has no zero byte before it.
    if (len - x.min_len > x.max_len - x.min_len || start == 0 || start > last_start) return;
    unsigned char* text = buf + (start - base);
    if (!may_be_original(x, text, len)) return;
    std::int32_t id = find_original(x, text, len);
    if (id >= 0) apply(x, text, id, false);
}

// Relaxed: the leftmost offset whose text up to the zero is an original and
// whose byte before passes, found by reading the string backwards.
inline void decide_suffix(TextIndex& x, int relax, unsigned char* buf, std::int64_t base, std::int64_t start,
                          std::int64_t zero, std::int64_t last_start) {
    std::int64_t lowest = std::max({start, zero - static_cast<std::int64_t>(x.max_len), std::int64_t{1}});
    if (zero - 1 < lowest) return;
    const unsigned char* end = buf + (zero - base);
    std::int32_t node = x.root_child[end[-1]];
    if (node < 0) return;
    if (zero - 2 >= lowest && x.nodes[static_cast<std::size_t>(node)].original < 0 &&
        !may_end_original(x, end[-2], end[-1])) {
        return;
    }
    std::int32_t best = -1;
    std::int64_t best_at = 0;
    for (std::int64_t p = zero - 1;;) {
        std::int32_t id = x.nodes[static_cast<std::size_t>(node)].original;
        if (id >= 0 && p <= last_start && (p == start || passes(buf[p - 1 - base], relax))) {
            best = id;
            best_at = p;
        }
        if (--p < lowest) break;
        node = trie_child(x, node, buf[p - base]);
        if (node < 0) break;
    }
    if (best >= 0) apply(x, buf + (best_at - base), best, best_at != start);
}

// Eight bytes in a bit each: set for a zero byte.
inline std::uint64_t zero_bits8(const unsigned char* b) {
    constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7FULL;
    std::uint64_t w = 0;  // byte k in bits 8k to 8k + 7
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&w, b, 8);
    } else {
        for (unsigned k = 0; k < 8; ++k) w |= std::uint64_t{b[k]} << (8 * k);
    }
    std::uint64_t high = ~(((w & low7) + low7) | w | low7);  // the high bit of each zero byte, exactly
    return (high >> 7) * 0x0102040810204080ULL >> 56;
}

inline std::uint64_t zero_bits64(const unsigned char* b) {
    std::uint64_t bits = 0;
    for (unsigned k = 0; k < 8; ++k) bits |= zero_bits8(b + 8 * k) << (8 * k);
    return bits;
}

// Whether a zero byte among the 64 at b may end a match: the n bytes before
// it lie in the originals' byte range. Written so that the compiler can
// compare many bytes at once; b[-n] must be readable.
template <int n>
bool may_end_match(const unsigned char* b, unsigned char lo, unsigned char span) {
    std::uint8_t any = 0;
    for (int j = 0; j < 64; ++j) {
        std::uint8_t ok = b[j] == 0 ? 0xFF : 0;
        for (int k = 1; k <= n; ++k) ok &= static_cast<std::uint8_t>(b[j - k] - lo) <= span ? 0xFF : 0;
        any |= ok;
    }
    return any != 0;
}

// The offset of the last zero byte before buf[i]: found within the 100 bytes
// before it, or -1 at the file's start, or else an offset so far back that no
// match can reach it. Bytes that a replacement changed always lie before a
// zero byte, so the first zero found is one that was read.
std::int64_t zero_before(const unsigned char* buf, std::int64_t base, std::size_t i) {
    std::size_t stop = i > 100 ? i - 100 : 0;
    for (std::size_t q = i; q-- > stop;) {
        if (buf[q] == 0) return base + static_cast<std::int64_t>(q);
    }
    std::int64_t far = base + static_cast<std::int64_t>(stop) - 1;
    return far < 0 ? -1 : far;
}

// Decides the strings ended by the zero bytes before offset until.
template <bool strict, int n>
void decide_with(Scan& s, unsigned char* buf, std::int64_t base, std::int64_t until, std::int64_t last_start) {
    std::int64_t from = std::max(s.decided, base);
    if (until <= from) return;
    TextIndex& x = s.index;
    std::int64_t last_zero = s.last_zero;
    auto string = [&](std::int64_t start, std::int64_t zero) {
        if constexpr (strict) {
            decide_whole(x, buf, base, start, zero, last_start);
        } else {
            decide_suffix(x, s.relax, buf, base, start, zero, last_start);
        }
    };
    auto i = static_cast<std::size_t>(from - base);
    auto end = static_cast<std::size_t>(until - base);
    bool known = true;  // whether last_zero is up to date after skipped chunks
    std::uint64_t before_is_zero = last_zero == from - 1 ? 1 : 0;
    for (; i + 64 <= end; i += 64) {
        if (i >= n && !may_end_match<n>(buf + i, x.byte_lo, x.byte_span)) {
            known = false;
            continue;
        }
        if (!known) {
            last_zero = zero_before(buf, base, i);
            before_is_zero = buf[i - 1] == 0 ? 1 : 0;
            known = true;
        }
        // The zero bytes that end a string are those after a byte that is not 0.
        std::uint64_t zeros = zero_bits64(buf + i);
        std::uint64_t ends = zeros & ~(zeros << 1 | before_is_zero);
        before_is_zero = zeros >> 63;
        auto at = base + static_cast<std::int64_t>(i);
        for (; ends != 0; ends &= ends - 1) {
            int k = std::countr_zero(ends);
            std::uint64_t below = zeros & ((std::uint64_t{1} << k) - 1);
            std::int64_t start = below != 0 ? at + 64 - std::countl_zero(below) : last_zero + 1;
            string(start, at + k);
        }
        if (zeros != 0) last_zero = at + 63 - std::countl_zero(zeros);
    }
    if (!known) last_zero = zero_before(buf, base, i);
    for (; i < end; ++i) {
        if (buf[i] != 0) continue;
        std::int64_t zero = base + static_cast<std::int64_t>(i);
        if (zero != last_zero + 1) string(last_zero + 1, zero);
        last_zero = zero;
    }
    s.last_zero = last_zero;
    s.decided = until;
}

template <bool strict>
void decide_at(Scan& s, unsigned char* buf, std::int64_t base, std::int64_t until, std::int64_t last_start) {
    if (s.index.min_len >= 4) {
        decide_with<strict, 4>(s, buf, base, until, last_start);
    } else if (s.index.min_len >= 2) {
        decide_with<strict, 2>(s, buf, base, until, last_start);
    } else {
        decide_with<strict, 1>(s, buf, base, until, last_start);
    }
}

void decide(Scan& s, unsigned char* buf, std::int64_t base, std::int64_t until, std::int64_t last_start) {
    if (s.index.originals.empty()) return;
    if (s.relax == kRelaxStrict) {
        decide_at<true>(s, buf, base, until, last_start);
    } else {
        decide_at<false>(s, buf, base, until, last_start);
    }
}

// Returns false on a write error.
bool stream(TextIndex& x, std::FILE* prog, std::FILE* out, int relax, std::size_t block) {
    std::vector<unsigned char> buf(kHeld + block);
    Scan s{x, relax};
    std::int64_t base = 0;  // the file offset of buf[0]
    std::size_t held = 0;
    std::int64_t shown = 0;
    for (;;) {
        std::size_t got = std::fread(buf.data() + held, 1, block, prog);
        held += got;
        std::int64_t end = base + static_cast<std::int64_t>(held);
        show_progress(shown, end - kLook);
        if (got < block) {  // the end of the file, or a read error that ends it
            decide(s, buf.data(), base, end, end - kLook);
            return std::fwrite(buf.data(), 1, held, out) == held;
        }
        decide(s, buf.data(), base, end - kLook, end - kLook);
        if (held > kHeld) {
            std::size_t done = held - kHeld;
            if (std::fwrite(buf.data(), 1, done, out) != done) return false;
            std::memmove(buf.data(), buf.data() + done, kHeld);
            base += static_cast<std::int64_t>(done);
            held = kHeld;
        }
    }
}

}  // namespace

void translate_bytes(Trans_Tbl* head, std::string_view in, int relax, std::string& out) {
    out.assign(in);
    auto size = static_cast<std::int64_t>(in.size());
    if (size < kLook) return;
    std::int64_t shown = 0;
    show_progress(shown, size - kLook);
    TextIndex x;
    build_index(x, head, relax != kRelaxStrict);
    Scan s{x, relax};
    decide(s, reinterpret_cast<unsigned char*>(out.data()), 0, size, size - kLook);
    add_counts(x);
}

TranslateStatus translate_blocks(Trans_Tbl* head, std::FILE* prog, std::FILE* out, int relax,
                                 std::size_t block) {
    bool written = false;
    bool out_of_memory = false;
    try {
        TextIndex x;
        build_index(x, head, relax != kRelaxStrict);
        written = stream(x, prog, out, relax, std::max<std::size_t>(block, 1));
        add_counts(x);
    } catch (const std::bad_alloc&) {
        out_of_memory = true;
    }
    bool closed = std::fclose(out) == 0;
    if (out_of_memory) return TranslateStatus::out_of_memory;
    if (std::ferror(prog) != 0) return TranslateStatus::read_error;
    if (!written || !closed) return TranslateStatus::write_error;
    return TranslateStatus::ok;
}

TranslateStatus translate(Trans_Tbl* head, std::FILE* prog, std::FILE* out, int relax) {
    return translate_blocks(head, prog, out, relax, kBlockSize);
}
