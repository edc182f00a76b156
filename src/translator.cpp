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
// bytes that a later decision may still change or test are held back. A
// regular file is copied in segments, cut at zero units, that two threads
// each read, decide and write (see Segments); a stream's blocks are written
// on a second thread while the next ones are read.
//
// One example of each pass, with the entries File to Bestand and Quit to Weg:
//   bytes   00 'F' 'i' 'l' 'e' 00: the zero at offset 5 ends the string
//           "File", which is an original with a zero before it, so the byte
//           pass writes 'B' 'e' 's' 't' over it (the window would have
//           matched it at offset 1).
//   with -u 04 00 'Q' 00 'u' 00 'i' 00 't' 00 at an even offset: the byte pass
//           sees strings of one byte only; the wide pass, which follows it
//           over the bytes it is done with, finds the units of "Quit" after
//           the unit 4, their count, and writes "Weg " (padded with a
//           blank unit) over them (see wide_pass.h).
// The wide pass runs behind the byte pass in the same blocks: what it reads
// lies before the bytes the byte pass holds back, so it sees the copy the
// byte pass has made, as a second pass over the whole copy would.
#include "translator.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <system_error>
#include <thread>
#include <vector>

#include "block_writer.h"
#include "byte_masks.h"
#include "mask_kernels.h"
#include "positioned_io.h"
#include "text_index.h"
#include "text_limits.h"
#include "thread_start.h"
#include "wide_pass.h"

namespace {

constexpr auto kLook = static_cast<std::int64_t>(kLookAhead);

// Held back between blocks by the byte pass: an undecided zero lies in the
// last 99 bytes read, and its string's match and the byte before it in the
// 99 bytes before that (more with a catalogue's longer originals).
std::size_t held_bytes(const TextIndex& x) { return kLookAhead + std::max(kLookAhead, x.max_len + 1); }

// The bytes the wide pass's undecided offsets may read.
std::size_t wide_reach(const WideIndex& w) { return std::max(kWideReach, 2 * (w.max_units + 1)); }
// Smaller blocks (tests use blocks of a few bytes) are written in the
// caller: handing each to the writer would cost more than it saves.
constexpr std::size_t kOverlapBlock = 4096;

// counted: the bytes read after the first 99.
void show_progress(const MessageSink& progress, std::int64_t& shown, std::int64_t counted) {
    while (counted - shown >= kProgressStep) {
        shown += kProgressStep;
        char line[32];
        int n = std::snprintf(line, sizeof line, "%" PRId64 "      \r", shown);
        tell(progress, std::string_view(line, static_cast<std::size_t>(n)));
    }
}

// Where the scan stands, in file offsets.
struct Scan {
    TextIndex& index;
    int relax;
    std::int64_t last_zero = -1;  // the last zero byte decided, -1 before the first
    std::int64_t decided = 0;     // every zero byte before this offset is decided
    // Where hits are counted, per original, when not in the index's own
    // clean and risky: a scan of one segment of the copy (see Segments).
    std::int64_t* clean = nullptr;
    std::int64_t* risky = nullptr;
};

// The text at offset, which stands at at.
void apply(Scan& s, unsigned char* at, std::int64_t offset, std::int32_t id, bool risky) {
    TextIndex& x = s.index;
    const Original& o = x.originals[static_cast<std::size_t>(id)];
    std::memcpy(at, o.result, o.len);
    std::int64_t* counts = risky ? (s.risky != nullptr ? s.risky : x.risky.data())
                                 : (s.clean != nullptr ? s.clean : x.clean.data());
    ++counts[id];
    if (x.observer != nullptr) {
        for (std::int32_t e = o.head; e >= 0; e = x.next[static_cast<std::size_t>(e)]) {
            (*x.observer)(x.entries[static_cast<std::size_t>(e)], offset);
        }
    }
}

// The string from start to the zero byte at offset zero, both in buf, which
// holds the file from offset base; a match may begin up to last_start.
inline void decide_whole(Scan& s, unsigned char* buf, std::int64_t base, std::int64_t start, std::int64_t zero,
                         std::int64_t last_start) {
    const TextIndex& x = s.index;
    auto len = static_cast<std::size_t>(zero - start);
    // start 0 has no zero byte before it.
    if (len - x.min_len > x.max_len - x.min_len || start == 0 || start > last_start) return;
    unsigned char* text = buf + (start - base);
    if (!may_be_original(x, text, len)) return;
    std::int32_t id = find_original(x, text, len);
    if (id >= 0) apply(s, text, start, id, false);
}

// Relaxed: the leftmost offset whose text up to the zero is an original and
// whose byte before passes, found by reading the string backwards.
inline void decide_suffix(Scan& s, unsigned char* buf, std::int64_t base, std::int64_t start, std::int64_t zero,
                          std::int64_t last_start) {
    const TextIndex& x = s.index;
    const int relax = s.relax;
    std::int64_t lowest = std::max({start, zero - static_cast<std::int64_t>(x.max_len), std::int64_t{1}});
    if (zero - 1 < lowest) return;
    const unsigned char* end = buf + (zero - base);
    if (!may_end_original(x, end, static_cast<std::size_t>(zero - lowest))) {
        assert(no_original_ends(x, end, static_cast<std::size_t>(zero - lowest)));
        return;
    }
    std::int32_t node = x.root_child[end[-1]];
    if (node < 0) return;
    std::int32_t best = -1;
    std::int64_t best_at = 0;
    for (std::int64_t p = zero - 1;;) {
        const TrieNode& at = x.nodes[static_cast<std::size_t>(node)];
        if (at.only >= 0) {
            // One original is left: the text either is it or holds none.
            // The bytes from p to the zero are its last ones; its others,
            // its head, are at.count bytes in only_heads.
            const std::int64_t q = p - static_cast<std::int64_t>(at.count);
            if (q >= lowest && q <= last_start && (q == start || passes(buf[q - 1 - base], relax)) &&
                std::memcmp(x.only_heads.data() + at.first, buf + (q - base), at.count) == 0) {
                assert(x.originals[static_cast<std::size_t>(at.only)].len == zero - q &&
                       std::memcmp(x.originals[static_cast<std::size_t>(at.only)].text, buf + (q - base),
                                   static_cast<std::size_t>(zero - q)) == 0);
                best = at.only;
                best_at = q;
            }
            break;
        }
        std::int32_t id = at.original;
        if (id >= 0 && p <= last_start && (p == start || passes(buf[p - 1 - base], relax))) {
            best = id;
            best_at = p;
        }
        if (--p < lowest) break;
        node = trie_child(x, node, buf[p - base]);
        if (node < 0) break;
    }
    if (best >= 0) apply(s, buf + (best_at - base), best_at, best, best_at != start);
}

#ifndef NDEBUG
// Whether the kernel's call that read the chunks from first up to s.at,
// with the last zero before first at zero_before, noted what the portable
// masks give, with range_before the in-range bits of the chunk before first
// (made the last chunk's). The chunks are as the kernel read them: the
// strings of its chunks are decided after this.
template <int n>
bool as_portable_masks(const ByteScan<n>& s, std::size_t first, std::int64_t zero_before,
                       std::uint64_t& range_before, const CandidateChunk* found, std::size_t count) {
    std::size_t noted = 0;
    for (std::size_t at = first; at < s.at; at += 64) {
        ChunkMasks m = chunk_masks_portable(s.buf + at, s.lo, s.span);
        std::uint64_t ends = m.zero;
        for (int k = 1; k <= n; ++k) ends &= m.in_range << k | range_before >> (64 - k);
        range_before = m.in_range;
        if (ends != 0) {
            if (noted == count) return false;
            const CandidateChunk& c = found[noted++];
            if (c.at != at || c.zero != m.zero || c.ends != ends || c.zero_before != zero_before) return false;
        }
        if (m.zero != 0) zero_before = static_cast<std::int64_t>(at) + 63 - std::countl_zero(m.zero);
    }
    return noted == count && zero_before == s.last_zero;
}
#endif

// Decides the strings ended by the zero bytes before offset until. A zero
// can end a match only when the n bytes before it lie in the originals'
// byte range, which passes over most of a program's strings unseen.
// Replacements change bytes before a decided zero only, never that zero,
// and every run of in-range bytes the scan follows back stops at a zero, so
// every mask stands for bytes as they were read; so do the masks of the
// chunks the kernel reads before the strings of the chunks it noted are
// decided, which lie after those strings' zeros.
template <bool strict, int n>
void decide_with(Scan& s, unsigned char* buf, std::int64_t base, std::int64_t until, std::int64_t last_start) {
    std::int64_t from = std::max(s.decided, base);
    if (until <= from) return;
    TextIndex& x = s.index;
    std::int64_t last_zero = s.last_zero;
    auto string = [&](std::int64_t start, std::int64_t zero) {
        if constexpr (strict) {
            decide_whole(s, buf, base, start, zero, last_start);
        } else {
            decide_suffix(s, buf, base, start, zero, last_start);
        }
    };
    auto i = static_cast<std::size_t>(from - base);
    auto end = static_cast<std::size_t>(until - base);
    const unsigned char lo = x.byte_lo;  // locals, so that they stay in registers
    const unsigned char span = x.byte_span;
    std::uint64_t range_before = 0;  // the bytes before the chunk, in the top bits
    for (std::size_t k = 1; k <= n && k <= i; ++k) {
        if (byte_in_range(buf[i - k], lo, span)) range_before |= std::uint64_t{1} << (64 - k);
    }
    ByteScan<n> scan{buf, i, end, lo, span, InRangeRuns<n>(range_before), last_zero - base};
    const ByteScanKernel<n> kernel = byte_scan_kernel<n>(fastest_mask_isa());
    CandidateChunk found[kCandidateChunks];
    while (scan.at + 64 <= end) {
        [[maybe_unused]] const std::size_t first = scan.at;
        [[maybe_unused]] const std::int64_t zero_before = scan.last_zero;
        std::size_t count = kernel(scan, found);
        assert(as_portable_masks<n>(scan, first, zero_before, range_before, found, count));
        for (const CandidateChunk& c : std::span(found, count)) {
            auto at = base + static_cast<std::int64_t>(c.at);
            for (std::uint64_t ends = c.ends; ends != 0; ends &= ends - 1) {
                int k = std::countr_zero(ends);
                std::uint64_t below = c.zero & ((std::uint64_t{1} << k) - 1);
                std::int64_t start = below != 0 ? at + 64 - std::countl_zero(below) : base + c.zero_before + 1;
                string(start, at + k);
            }
        }
    }
    i = scan.at;
    last_zero = base + scan.last_zero;
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
    if (s.index.min_len >= 8) {
        decide_with<strict, 8>(s, buf, base, until, last_start);
    } else if (s.index.min_len >= 4) {
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

// Returns false on a write error. Block n is read into buffer n % kBuffers,
// behind the bytes held back from block n - 1, while the writer may still be
// writing the blocks before it. The wide pass (when wide is given) follows
// the byte pass through each block, over the bytes the byte pass is done
// with.
// Bytes of the file that both passes read as zeros, and the copy holds as
// zeros: -g lays the resource section out itself.
struct Masked {
    std::int64_t begin = 0;
    std::int64_t end = 0;
};

// E.g. a block of the file's bytes [4096, 8192) read into buf + held, with
// the bytes [6000, 7000) masked: buf + held + 1904 gets 1000 zeros.
void mask(unsigned char* read, std::int64_t from, std::size_t got, const Masked& masked) {
    const std::int64_t begin = std::max(from, masked.begin);
    const std::int64_t end = std::min(from + static_cast<std::int64_t>(got), masked.end);
    if (begin < end) std::memset(read + (begin - from), 0, static_cast<std::size_t>(end - begin));
}

// The copy of a stream that cannot be read in segments (see Segments): a
// pipe, a copy handed to a sink, a search that writes none. With a writer's
// thread, the wide pass's walk over each block is split at a
// zero unit (see split_walk): the writer's thread walks the first part
// before it writes the block, while this thread walks the second and goes on
// to the next block. The writer's part is half the walk at first, then a
// sixteenth less whenever this thread finds the writer behind and a
// sixteenth more when not, so that neither waits long for the other. E.g.
// a block whose walk runs from offset 1,000 to 1,049,000 with a zero unit
// at 525,000: the writer decides 1,000 up to 525,002, this thread from
// 525,002 on. The first part writes only bytes before 525,000 and reads none
// from 525,002 on; the second writes none before 525,002, and the bytes
// carried to the next block lie after both.
bool stream(TextIndex& x, WideScan* wide, std::FILE* prog, BlockWriter& writer, bool copying, const Masked& masked,
            int relax, std::size_t block, const MessageSink& progress) {
    constexpr std::size_t kBuffers = 4;
    const std::size_t held_back = held_bytes(x);
    const std::size_t reach = wide != nullptr ? wide_reach(wide->index) : 0;
    // With the wide pass, also the bytes its undecided offsets may read and
    // the unit before the first of them (one more byte when kept - reach is
    // odd).
    const std::size_t held_max = held_back + reach + 3;
    // Not zeroed: every byte is read into before it is looked at.
    std::unique_ptr<unsigned char[]> buffers[kBuffers];
    for (auto& b : buffers) b = std::make_unique_for_overwrite<unsigned char[]>(held_max + block);
    // The hits of the parts walked on the writer's thread, added to the
    // index's once it is done.
    const bool split = wide != nullptr && writer.threaded() && wide->index.observer == nullptr;
    const std::size_t originals = split ? wide->index.originals.size() : 0;
    std::vector<std::int64_t> part_clean(originals);
    std::vector<std::int64_t> part_risky(originals);
    // Whatever way this returns, the writer is done with the buffers first.
    auto finish = [&] {
        bool ok = writer.finish();
        for (std::size_t id = 0; id < originals; ++id) {
            wide->index.clean[id] += part_clean[id];
            wide->index.risky[id] += part_risky[id];
        }
        return ok;
    };
    struct Finished {
        BlockWriter& writer;
        ~Finished() { writer.finish(); }
    } finished{writer};
    std::int64_t share = 8;  // sixteenths of the walk the writer takes
    Scan s{x, relax};
    std::int64_t base = 0;  // the file offset of buf[0]
    std::size_t held = 0;   // bytes carried over from the block before
    const unsigned char* carried = nullptr;
    std::int64_t shown = 0;
    for (std::size_t n = 0;; ++n) {
        unsigned char* buf = buffers[n % kBuffers].get();
        // The write of this buffer's last block is done.
        if (writer.wait_pending(kBuffers - 1)) {
            share = std::max<std::int64_t>(share - 1, 1);
        } else {
            share = std::min<std::int64_t>(share + 1, 15);
        }
        if (held != 0) std::memcpy(buf, carried, held);
        std::size_t got = std::fread(buf + held, 1, block, prog);
        mask(buf + held, base + static_cast<std::int64_t>(held), got, masked);
        held += got;
        std::int64_t end = base + static_cast<std::int64_t>(held);
        if (copying) show_progress(progress, shown, end - kLook);  // a search without a copy is silent
        if (got < block) {  // the end of the file, or a read error that ends it
            decide(s, buf, base, end, end - kLook);
            if (wide != nullptr) wide_decide(*wide, buf, base, end, end);
            writer.write(buf, held);
            return finish();
        }
        decide(s, buf, base, end - kLook, end - kLook);
        // The byte pass neither changes nor tests a byte before kept again.
        std::int64_t kept = std::max(base, end - static_cast<std::int64_t>(held_back));
        if (wide != nullptr) {
            const std::int64_t until = kept - static_cast<std::int64_t>(reach);
            // A zero unit is sought in 64 KiB at most: a block without one
            // is walked here whole rather than searched through twice.
            const std::int64_t from = wide->next + (until - wide->next) * share / 16;
            const std::int64_t z =
                split && until > wide->next ? zero_unit_from(buf, base, from, std::min(until, from + 65536)) : -1;
            if (z >= 0) {
                WideScan part = split_walk(*wide, z, part_clean.data(), part_risky.data());
                writer.call([part, buf, base, z]() mutable {
                    wide_decide(part, buf, base, z + 2, z + 2);
                    assert(part.next == z + 2);
                });
            }
            wide_decide(*wide, buf, base, until, kept);
            kept = std::min(kept, wide->next - 2);  // the unit before the next offset is still read
        }
        assert(kept >= base && end - kept <= static_cast<std::int64_t>(held_max));
        auto done = static_cast<std::size_t>(kept - base);
        writer.write(buf, done);
        if (writer.failed()) return finish();
        carried = buf + done;
        base = kept;
        held -= done;
    }
}

}  // namespace

void translate_bytes(Trans_Tbl* head, std::string_view in, int relax, std::string& out, bool wide,
                     const MessageSink& progress) {
    out.assign(in);
    auto size = static_cast<std::int64_t>(in.size());
    auto* copy = reinterpret_cast<unsigned char*>(out.data());
    if (size >= kLook) {
        std::int64_t shown = 0;
        show_progress(progress, shown, size - kLook);
        TextIndex x;
        build_index(x, head, relax != kRelaxStrict);
        Scan s{x, relax};
        decide(s, copy, 0, size, size - kLook);
        add_counts(x);
    }
    if (wide) {
        WideIndex w;
        build_wide_index(w, head);
        WideScan ws{w, relax};
        wide_decide(ws, copy, 0, size, size);
        add_wide_counts(w);
    }
}

namespace {

// Reserves the room of the copy of prog's bytes from where it stands, when
// both are regular files: without it, the file system reserves the blocks
// of each page as the writes come, which on ext4 was 6-7% of a 512 MiB
// run's time at -r (0.02 s of system time in 0.25 s). The file's size is
// kept (it grows as the copy is written), and a failure (no room, a file
// system without it) only leaves the writes to find out as before.
void reserve_copy(std::FILE* prog, std::FILE* out) {
#if defined(__linux__) && defined(FALLOC_FL_KEEP_SIZE)
    struct stat in {};
    struct stat copy {};
    const int in_fd = ::fileno(prog);
    const int out_fd = ::fileno(out);
    if (in_fd < 0 || out_fd < 0 || ::fstat(in_fd, &in) != 0 || ::fstat(out_fd, &copy) != 0) return;
    const off_t from = ::ftello(prog);
    const off_t at = ::ftello(out);
    if (!S_ISREG(in.st_mode) || !S_ISREG(copy.st_mode) || from < 0 || at < 0 || in.st_size <= from) return;
    ::fallocate(out_fd, FALLOC_FL_KEEP_SIZE, at, in.st_size - from);
#else
    (void)prog;
    (void)out;
#endif
}

// The copy of a regular file to a regular file goes in segments that two
// threads take in turn, each reading, deciding and writing its own: a
// segment's bytes stay in one core's caches from the read to the write,
// where the stream hands every byte from the reading core to the writing
// one. On 512 MiB with -u and 10,000 entries that took 211 ms against 189 ms
// in segments (median of 9 paired runs), and the mapped copy at level 0
// 176 ms against 147.
//
// A segment runs from a cut to the next cut, or to the end of the file. The
// cut of the n-th multiple of the segment size is the offset after the first
// zero unit (two zero bytes from an even offset) within the search window
// from it; without one there is no cut there, and the segment before runs
// on past it. No text of either pass runs across a zero unit, neither pass
// writes over one, and so the byte and the unit before a cut are zeros
// whatever was replaced before it: the offsets before a cut and those after
// it are decided apart, as the wide walk's split_walk decides the parts of
// a block. E.g. with segments of 1 MiB, and the first zero units from
// 1,048,576 and from 2,097,152 at 1,048,600 and 2,097,200, one thread
// decides and writes the bytes from 1,048,602 up to 2,097,202. The window is
// at most the segment size, so a cut lies before the next multiple and the
// cuts ascend.
struct Segments {
    TextIndex& bytes;
    WideIndex* wide;  // null without the wide pass
    int relax;
    int in;
    int out;
    std::int64_t out_at;  // where the copy starts in out
    std::int64_t size;
    std::int64_t span;    // the segment size
    std::int64_t window;  // even, 2 to span (or 2 with a span of 1)
    std::size_t capacity;  // of each thread's buffer
    std::size_t held_back;
    std::size_t reach;
    // Per multiple: its cut, kNoCut, or 0 while not yet sought (a cut after
    // the start is 2 or more).
    std::vector<std::atomic<std::int64_t>> cuts;
    std::atomic<std::size_t> next{0};  // the next multiple to take
    std::atomic<std::int64_t> done{0};  // bytes written
    std::atomic<int> failed{0};         // a TranslateStatus other than ok, once one is
};

constexpr std::int64_t kNoCut = -1;
constexpr std::size_t kCutRead = 4096;  // a cut is sought this many bytes at a time

struct SegmentWorker {
    std::unique_ptr<unsigned char[]> buffer;
    std::vector<std::int64_t> clean;  // hits per original, of each pass
    std::vector<std::int64_t> risky;
    std::vector<std::int64_t> wide_clean;
    std::vector<std::int64_t> wide_risky;
    const MessageSink* progress = nullptr;  // only the caller's thread tells progress
    std::int64_t shown = 0;
};

void fail(Segments& g, TranslateStatus status) {
    int none = 0;
    g.failed.compare_exchange_strong(none, static_cast<int>(status));
}

// The cut of multiple n, sought once: the first thread to ask reads the
// window and stores what it found, and both threads use what is stored, so
// they agree even when the file changes under them.
std::int64_t cut(Segments& g, std::size_t n) {
    if (n == 0) return 0;
    std::int64_t stored = g.cuts[n].load(std::memory_order_acquire);
    if (stored != 0) return stored;
    std::int64_t found = kNoCut;
    unsigned char piece[kCutRead];
    const auto from = static_cast<std::int64_t>(n) * g.span;
    const std::int64_t to = std::min(g.size, from + g.window);
    // Even offsets and even lengths, so that no unit straddles two pieces.
    for (std::int64_t at = from + (from & 1); at + 2 <= to;) {
        const auto len = static_cast<std::size_t>(std::min<std::int64_t>(to - at, kCutRead));
        if (read_at(g.in, piece, len, static_cast<std::uint64_t>(at)) != len) {
            fail(g, TranslateStatus::read_error);
            return kNoCut;
        }
        const std::int64_t z = zero_unit_from(piece, at, at, at + static_cast<std::int64_t>(len));
        if (z >= 0) {
            found = z + 2;
            break;
        }
        at += static_cast<std::int64_t>(len);
    }
    assert(found == kNoCut || (found >= from + 2 && found <= (static_cast<std::int64_t>(n) + 1) * g.span + 1));
    if (g.cuts[n].compare_exchange_strong(stored, found, std::memory_order_acq_rel)) return found;
    return stored;
}

// Decides and writes the copy's bytes from from up to to, two cuts (from
// may be 0, to the size).
void copy_segment(Segments& g, SegmentWorker& w, std::int64_t from, std::int64_t to) {
    Scan s{g.bytes, g.relax};
    s.last_zero = from - 1;  // the zero byte before a cut, or -1 before the first
    s.decided = from;
    s.clean = w.clean.data();
    s.risky = w.risky.data();
    std::optional<WideScan> ws;
    if (g.wide != nullptr) {
        ws.emplace(WideScan{*g.wide, g.relax, std::max<std::int64_t>(from, 2)});
        ws->clean = w.wide_clean.data();
        ws->risky = w.wide_risky.data();
    }
    unsigned char* buf = w.buffer.get();
    std::int64_t base = std::max<std::int64_t>(from - 2, 0);  // from the zero unit before a cut
    std::size_t held = 0;
    std::int64_t written = from;
    for (;;) {
        const std::int64_t at = base + static_cast<std::int64_t>(held);
        const auto len = static_cast<std::size_t>(
            std::min<std::int64_t>(to - at, static_cast<std::int64_t>(g.capacity - held)));
        if (read_at(g.in, buf + held, len, static_cast<std::uint64_t>(at)) != len) {
            return fail(g, TranslateStatus::read_error);
        }
        held += len;
        // What the segment's independence rests on: the zero unit before it.
        assert(base != from - 2 || (buf[0] == 0 && buf[1] == 0));
        const std::int64_t end = base + static_cast<std::int64_t>(held);
        std::int64_t kept = to;
        if (end == to) {
            decide(s, buf, base, to, g.size - kLook);
            if (ws) wide_decide(*ws, buf, base, to, to);
        } else {
            decide(s, buf, base, end - kLook, end - kLook);
            kept = std::max(base, end - static_cast<std::int64_t>(g.held_back));
            if (ws) {
                wide_decide(*ws, buf, base, kept - static_cast<std::int64_t>(g.reach), kept);
                kept = std::min(kept, ws->next - 2);
            }
        }
        assert(kept >= written && (kept == to || end - kept <= static_cast<std::int64_t>(g.capacity / 2)));
        if (!write_at(g.out, buf + (written - base), static_cast<std::size_t>(kept - written),
                      static_cast<std::uint64_t>(g.out_at + written))) {
            return fail(g, TranslateStatus::write_error);
        }
        const std::int64_t done = g.done.fetch_add(kept - written) + (kept - written);
        if (w.progress != nullptr) show_progress(*w.progress, w.shown, done - kLook);
        if (kept == to || g.failed.load() != 0) return;
        held = static_cast<std::size_t>(end - kept);
        std::memmove(buf, buf + (kept - base), held);
        base = kept;
        written = kept;
    }
}

void take_segments(Segments& g, SegmentWorker& w) {
    const std::size_t multiples = g.cuts.size();
    while (g.failed.load() == 0) {
        const std::size_t n = g.next.fetch_add(1);
        if (n >= multiples) return;
        const std::int64_t from = cut(g, n);
        if (from == kNoCut) continue;  // the segment before runs on over this multiple
        std::int64_t to = g.size;
        for (std::size_t m = n + 1; m < multiples; ++m) {
            const std::int64_t c = cut(g, m);
            if (c != kNoCut) {
                to = c;
                break;
            }
        }
        if (g.failed.load() == 0 && from < to) copy_segment(g, w, from, to);
    }
}

// Whether prog is a regular file read from its start and out a regular file
// written where it stands (its buffer emptied), not appended to; gives
// prog's size and that place.
bool segmentable(std::FILE* prog, std::FILE* out, std::int64_t& size, std::int64_t& out_at) {
    struct stat in {};
    struct stat copy {};
    const int in_fd = ::fileno(prog);
    const int out_fd = ::fileno(out);
    if (in_fd < 0 || out_fd < 0 || ::ftello(prog) != 0 || ::fstat(in_fd, &in) != 0 || !S_ISREG(in.st_mode) ||
        in.st_size <= 0) {
        return false;
    }
    if (std::fflush(out) != 0 || ::fstat(out_fd, &copy) != 0 || !S_ISREG(copy.st_mode)) return false;
    const int flags = ::fcntl(out_fd, F_GETFL);
    const off_t at = ::ftello(out);
    if (flags < 0 || (flags & O_APPEND) != 0 || at < 0) return false;
    size = in.st_size;
    out_at = at;
    return true;
}

// Throws std::bad_alloc (before any thread starts).
TranslateStatus copy_in_segments(TextIndex& x, WideIndex* wide, std::FILE* prog, std::FILE* out, std::int64_t size,
                                 std::int64_t out_at, int relax, std::size_t block, const MessageSink& progress) {
    // At most 65,536 multiples, so that the cuts take at most 512 KiB
    // whatever block a caller gives.
    const std::int64_t span = std::max(static_cast<std::int64_t>(block), size / 65536 + 1);
    const std::int64_t window = std::max<std::int64_t>(2, std::min<std::int64_t>(65536, span) & ~std::int64_t{1});
    const std::size_t held_back = held_bytes(x);
    const std::size_t reach = wide != nullptr ? wide_reach(*wide) : 0;
    // A segment is at most span + window + 1 bytes and the two before it;
    // one whose multiples have no cut is read in parts, each leaving at most
    // held_max bytes for the next.
    const std::size_t held_max = held_back + reach + 3;
    const std::size_t capacity =
        std::max(static_cast<std::size_t>(span + window) + 3, 2 * held_max + 2);
    Segments g{x, wide, relax, ::fileno(prog), ::fileno(out), out_at, size, span, window, capacity, held_back, reach,
               std::vector<std::atomic<std::int64_t>>(static_cast<std::size_t>((size + span - 1) / span))};
    SegmentWorker workers[2];
    for (SegmentWorker& w : workers) {
        w.buffer = std::make_unique_for_overwrite<unsigned char[]>(capacity);
        w.clean.assign(x.originals.size(), 0);
        w.risky.assign(x.originals.size(), 0);
        if (wide != nullptr) {
            w.wide_clean.assign(wide->originals.size(), 0);
            w.wide_risky.assign(wide->originals.size(), 0);
        }
    }
    workers[0].progress = &progress;
    std::thread helper;
    try {
        helper = start_thread([&g, &workers] { take_segments(g, workers[1]); });
    } catch (const std::system_error&) {
        // Without a second thread this one takes every segment.
    }
    take_segments(g, workers[0]);
    if (helper.joinable()) helper.join();
    // The program's stream stands after what was read, as after a stream's
    // copy, whatever failed: a program that changed meanwhile is found by its
    // size.
    if (::fseeko(prog, size, SEEK_SET) != 0) return TranslateStatus::read_error;
    if (g.failed.load() != 0) return static_cast<TranslateStatus>(g.failed.load());
    std::int64_t shown = workers[0].shown;
    show_progress(progress, shown, size - kLook);
    for (const SegmentWorker& w : workers) {
        for (std::size_t id = 0; id < x.originals.size(); ++id) {
            x.clean[id] += w.clean[id];
            x.risky[id] += w.risky[id];
        }
        for (std::size_t id = 0; wide != nullptr && id < wide->originals.size(); ++id) {
            wide->clean[id] += w.wide_clean[id];
            wide->risky[id] += w.wide_risky[id];
        }
    }
    if (::fseeko(out, out_at + size, SEEK_SET) != 0) return TranslateStatus::write_error;
    return TranslateStatus::ok;
}

// The shorter index to build, when there are two: the byte index at the
// strict level, the wide one at the others (where the byte index builds its
// suffix trie).
enum class Aside { none, byte_index, wide_index };

Aside aside_index(int relax, bool wide) {
    return !wide ? Aside::none : relax == kRelaxStrict ? Aside::byte_index : Aside::wide_index;
}

// Both throw std::bad_alloc.
void build_shorter(TextIndex& x, WideIndex& w, Trans_Tbl* head, int relax, bool wide) {
    const Aside aside = aside_index(relax, wide);
    if (aside == Aside::byte_index) build_index(x, head, false);
    if (aside == Aside::wide_index) build_wide_index(w, head);
}

void build_longer(TextIndex& x, WideIndex& w, Trans_Tbl* head, int relax, bool wide) {
    const Aside aside = aside_index(relax, wide);
    if (aside != Aside::byte_index) build_index(x, head, relax != kRelaxStrict);
    if (wide && aside != Aside::wide_index) build_wide_index(w, head);
}

}  // namespace

// The two indexes of a list: the longer to build on a thread of its own,
// the shorter by whoever translates (see TranslationIndexes).
struct TranslationIndexes::Built {
    TextIndex bytes;
    WideIndex wide;
    std::thread thread;          // builds the longer index
    bool out_of_memory = false;  // on the thread, or in its place
    bool shorter_built = false;

    Built() = default;
    Built(const Built&) = delete;
    Built& operator=(const Built&) = delete;
    ~Built() {
        if (thread.joinable()) thread.join();
    }
};

namespace {

// Begins the longer index of b on a thread of its own, or builds it here
// when none can be had; never throws.
void begin_longer(TranslationIndexes::Built& b, Trans_Tbl* head, int relax, bool wide) {
    const auto build = [&b, head, relax, wide] {
        try {
            build_longer(b.bytes, b.wide, head, relax, wide);
        } catch (const std::bad_alloc&) {
            b.out_of_memory = true;
        }
    };
    try {
        b.thread = start_thread(build);
    } catch (const std::system_error&) {
        build();
    } catch (const std::bad_alloc&) {
        build();
    }
}

}  // namespace

TranslationIndexes::TranslationIndexes(Trans_Tbl* head, int relax, bool wide)
    : head_(head), relax_(relax), wide_(wide) {
    try {
        built_ = std::make_unique<Built>();
    } catch (const std::bad_alloc&) {
        return;  // translate builds both
    }
    begin_longer(*built_, head, relax, wide);
}

TranslationIndexes::~TranslationIndexes() = default;

namespace {

// Translates into out or sink, or only counts (and observes) without them;
// with prepared, from its indexes.
TranslateStatus run_translation(Trans_Tbl* head, std::FILE* prog, std::FILE* out, const ByteSink& sink,
                                const Masked& masked, int relax, std::size_t block, bool wide,
                                const HitObserver* observe, const MessageSink& progress,
                                TranslationIndexes::Built* prepared = nullptr) {
    bool written = false;
    bool out_of_memory = false;
    TranslateStatus segment_status = TranslateStatus::ok;
    block = std::max<std::size_t>(block, 1);
    try {
        // Before any copying, the copy's room is reserved (0.2-0.5 ms on
        // 512 MiB) and the two indexes are built, each reading the list
        // alone: the longer on a thread of its own, while this one reserves
        // the room and builds the shorter (with a single index and no room
        // to reserve, here). Prepared indexes have the longer under way
        // since the list was read, while the caller checked it: with 10,000
        // entries and -u, both were ready 6.7-7.3 ms after the run began in
        // 13 of 16 runs, against 7.1-9.5 ms when begun here.
        const bool reserve = out != nullptr && masked.begin == masked.end;
        std::optional<TranslationIndexes::Built> own;
        if (prepared == nullptr) {
            prepared = &own.emplace();
            if (aside_index(relax, wide) != Aside::none || reserve) {
                begin_longer(*prepared, head, relax, wide);
            } else {
                build_longer(prepared->bytes, prepared->wide, head, relax, wide);
            }
        }
        TextIndex& x = prepared->bytes;
        WideIndex& w = prepared->wide;
        if (reserve) reserve_copy(prog, out);
        if (!prepared->shorter_built) build_shorter(x, w, head, relax, wide);
        prepared->shorter_built = true;
        if (prepared->thread.joinable()) prepared->thread.join();
        if (prepared->out_of_memory) throw std::bad_alloc();
        x.observer = observe;
        w.observer = observe;
        WideScan ws{w, relax};
        const bool overlap = block >= kOverlapBlock;
        std::int64_t size = 0;
        std::int64_t out_at = 0;
        if (out != nullptr && observe == nullptr && masked.begin == masked.end &&
            segmentable(prog, out, size, out_at)) {
            segment_status = copy_in_segments(x, wide ? &w : nullptr, prog, out, size, out_at, relax, block, progress);
            written = segment_status == TranslateStatus::ok;
        } else {
            // A copy to a file goes to its descriptor: through the stream,
            // each block's last part page stayed in the stream's buffer and
            // went out in a write of its own.
            const bool direct = out != nullptr && !sink && std::fflush(out) == 0 && ::fileno(out) >= 0;
            BlockWriter writer = direct ? BlockWriter(::fileno(out), overlap)
                                 : sink ? BlockWriter(sink, overlap)
                                        : BlockWriter(out, overlap);
            written = stream(x, wide ? &ws : nullptr, prog, writer, out != nullptr || sink, masked, relax, block,
                             progress);
        }
        add_counts(x);
        add_wide_counts(w);
    } catch (const std::bad_alloc&) {
        out_of_memory = true;
    }
    bool flushed = out == nullptr || (std::fflush(out) == 0 && std::ferror(out) == 0);
    if (out_of_memory) return TranslateStatus::out_of_memory;
    if (segment_status != TranslateStatus::ok) return segment_status;
    if (std::ferror(prog) != 0) return TranslateStatus::read_error;
    if (!written || !flushed) return TranslateStatus::write_error;
    return TranslateStatus::ok;
}

}  // namespace

TranslateStatus translate_blocks(Trans_Tbl* head, std::FILE* prog, std::FILE* out, int relax,
                                 std::size_t block, bool wide, const MessageSink& progress) {
    return run_translation(head, prog, out, {}, {}, relax, block, wide, nullptr, progress);
}

TranslateStatus find_texts(Trans_Tbl* head, std::FILE* prog, int relax, bool wide, const HitObserver& observe,
                           std::size_t block) {
    return run_translation(head, prog, nullptr, {}, {}, relax, block, wide, &observe, {});
}

TranslateStatus translate(Trans_Tbl* head, std::FILE* prog, std::FILE* out, int relax, bool wide,
                          const MessageSink& progress) {
    return translate_blocks(head, prog, out, relax, kBlockSize, wide, progress);
}

TranslateStatus translate(TranslationIndexes& indexes, std::FILE* prog, std::FILE* out, const MessageSink& progress) {
    return run_translation(indexes.head_, prog, out, {}, {}, indexes.relax_, kBlockSize, indexes.wide_, nullptr,
                           progress, indexes.built_.get());
}

TranslateStatus translate_masked(Trans_Tbl* head, std::FILE* prog, const ByteSink& sink, std::uint64_t masked_begin,
                                 std::uint64_t masked_end, int relax, bool wide, const MessageSink& progress) {
    const Masked masked{static_cast<std::int64_t>(masked_begin), static_cast<std::int64_t>(masked_end)};
    return run_translation(head, prog, nullptr, sink, masked, relax, kBlockSize, wide, nullptr, progress);
}
