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

// buf holds the file from offset base; a match may begin up to last_start.
void decide_whole(Scan& s, unsigned char* buf, std::int64_t base, std::int64_t zero, std::int64_t last_start) {
    const TextIndex& x = s.index;
    std::int64_t start = s.last_zero + 1;
    auto len = static_cast<std::size_t>(zero - start);
    if (s.last_zero < 0 || len < x.min_len || len > x.max_len || start > last_start) return;
    unsigned char* text = buf + (start - base);
    if (!may_be_original(x, text, len)) return;
    std::int32_t id = find_original(x, text, len);
    if (id >= 0) apply(s.index, text, id, false);
}

void decide_suffix(Scan& s, unsigned char* buf, std::int64_t base, std::int64_t zero, std::int64_t last_start) {
    const TextIndex& x = s.index;
    std::int64_t start = s.last_zero + 1;
    std::int64_t lowest = std::max({start, zero - static_cast<std::int64_t>(x.max_len), std::int64_t{1}});
    std::int32_t best = -1;
    std::int64_t best_at = 0;
    std::int32_t node = 0;
    for (std::int64_t p = zero - 1; p >= lowest; --p) {
        node = trie_child(x, node, buf[p - base]);
        if (node < 0) break;
        std::int32_t id = x.node_original[static_cast<std::size_t>(node)];
        if (id < 0 || p > last_start) continue;
        if (p == start || passes(buf[p - 1 - base], s.relax)) {
            best = id;
            best_at = p;
        }
    }
    if (best >= 0) apply(s.index, buf + (best_at - base), best, best_at != start);
}

// Decides the strings ended by the zero bytes before offset until.
template <bool strict>
void decide(Scan& s, unsigned char* buf, std::int64_t base, std::int64_t until, std::int64_t last_start) {
    std::int64_t from = std::max(s.decided, base);
    if (until <= from) return;
    auto at_zero = [&](std::size_t i) {
        std::int64_t zero = base + static_cast<std::int64_t>(i);
        if (zero != s.last_zero + 1) {
            if (strict) {
                decide_whole(s, buf, base, zero, last_start);
            } else {
                decide_suffix(s, buf, base, zero, last_start);
            }
        }
        s.last_zero = zero;
    };
    auto i = static_cast<std::size_t>(from - base);
    auto end = static_cast<std::size_t>(until - base);
    if constexpr (std::endian::native == std::endian::little) {
        // Eight bytes at a time: the high bit of each zero byte, exactly.
        constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7FULL;
        for (; i + 8 <= end; i += 8) {
            std::uint64_t w;
            std::memcpy(&w, buf + i, 8);
            if (w == 0) {
                at_zero(i);
                s.last_zero = base + static_cast<std::int64_t>(i) + 7;
                continue;
            }
            std::uint64_t zeros = ~(((w & low7) + low7) | w | low7);
            for (; zeros != 0; zeros &= zeros - 1) at_zero(i + static_cast<std::size_t>(std::countr_zero(zeros)) / 8);
        }
    }
    for (; i < end; ++i) {
        if (buf[i] == 0) at_zero(i);
    }
    s.decided = until;
}

void decide(Scan& s, unsigned char* buf, std::int64_t base, std::int64_t until, std::int64_t last_start) {
    if (s.relax == kRelaxStrict) {
        decide<true>(s, buf, base, until, last_start);
    } else {
        decide<false>(s, buf, base, until, last_start);
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
