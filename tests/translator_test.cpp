// The translator on byte strings, and the window it must equal.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "byte_masks.h"
#include "dictionary.h"
#include "mask_kernels.h"
#include "owned_list.h"
#include "thread_start.h"
#include "translator.h"
#include "window_translator.h"

namespace {

using namespace std::string_literals;

// The bytes stand away from the file's first byte and its last 98 bytes.
std::string inside(const std::string& bytes) { return "\x01"s + bytes + std::string(98, '\0'); }

struct WindowCase {
    const char* name;
    std::string dict;
    std::string in;
    int relax;
    std::string want;
    std::vector<std::int64_t> n_trans;
    std::vector<std::int64_t> n_risc;
};

void PrintTo(const WindowCase& c, std::ostream* os) { *os << c.name; }

using BytesTranslator = void (*)(Trans_Tbl*, std::string_view, int, std::string&);

// Over a file read in blocks of two bytes, so that every text crosses one.
void translate_in_small_blocks(Trans_Tbl* head, std::string_view in, int relax, std::string& out) {
    std::string copy(in);
    std::FILE* prog = fmemopen(copy.data(), copy.size(), "rb");
    char* buf = nullptr;
    std::size_t len = 0;
    std::FILE* file = open_memstream(&buf, &len);
    // fmemopen refuses an empty buffer; an empty file gives an empty copy.
    if (prog != nullptr) {
        EXPECT_EQ(translate_blocks(head, prog, file, relax, 2), TranslateStatus::ok);
        std::fclose(prog);
    }
    std::fclose(file);
    out.assign(buf, len);
    std::free(buf);
}

void window_silent(Trans_Tbl* head, std::string_view in, int relax, std::string& out) {
    window_translate_bytes(head, in, relax, out);
}

class Window : public testing::TestWithParam<WindowCase> {};

TEST_P(Window, ReplacesAndCounts) {
    const WindowCase& c = GetParam();
    for (auto [name, translator] : {std::pair<const char*, BytesTranslator>{"window", window_silent},
                                    {"bytes", [](Trans_Tbl* h, std::string_view in, int relax, std::string& out) {
                                         translate_bytes(h, in, relax, out);
                                     }},
                                    {"blocks", translate_in_small_blocks}}) {
        SCOPED_TRACE(name);
        OwnedList list = dictionary(c.dict);
        Trans_Tbl* head = list.get();
        std::string out;
        translator(head, c.in, c.relax, out);
        EXPECT_EQ(out, c.want);
        EXPECT_EQ(counts(head, false), c.n_trans);
        EXPECT_EQ(counts(head, true), c.n_risc);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Window,
    testing::Values(
        WindowCase{"Clean", "File Bestand\n", inside("\0File\0"s), 0, inside("\0Best\0"s), {1}, {0}},
        WindowCase{"ShorterPadded", "Quit Weg\n", inside("\0Quit\0"s), 0, inside("\0Weg\0\0"s), {1}, {0}},
        WindowCase{"AfterSlashStrict", "File Bestand\n", inside("/File\0"s), 0, inside("/File\0"s), {0}, {0}},
        WindowCase{"AfterSlashRelaxed", "File Bestand\n", inside("/File\0"s), 1, inside("/Best\0"s), {1}, {1}},
        WindowCase{"AfterSlashAny", "File Bestand\n", inside("/File\0"s), 3, inside("/Best\0"s), {1}, {1}},
        WindowCase{"AfterLetterRelaxed", "File Bestand\n", inside("XFile\0"s), 1, inside("XFile\0"s), {0}, {0}},
        WindowCase{"AfterDigitRelaxed", "File Bestand\n", inside("7File\0"s), 1, inside("7File\0"s), {0}, {0}},
        WindowCase{"AfterLetterAny", "File Bestand\n", inside("XFile\0"s), 3, inside("XBest\0"s), {1}, {1}},
        WindowCase{"AfterHighByteRelaxed", "File Bestand\n", inside("\xe9" "File\0"s), 1,
                   inside("\xe9" "Best\0"s), {1}, {1}},
        WindowCase{"LevelTwoActsLikeOne", "File Bestand\n", inside("XFile\0/File\0"s), 2,
                   inside("XFile\0/Best\0"s), {1}, {1}},
        WindowCase{"NotTerminated", "File Bestand\n", inside("\0File/Quit\0"s), 3, inside("\0File/Quit\0"s),
                   {0}, {0}},
        WindowCase{"Neighbours", "File Bestand\nQuit Weg\n", inside("\0File\0Quit\0"s), 0,
                   inside("\0Best\0Weg\0\0"s), {1, 1}, {0, 0}},
        WindowCase{"NoMatch", "File Bestand\n", inside("\0Fil\0Files\0"s), 3, inside("\0Fil\0Files\0"s), {0},
                   {0}},
        WindowCase{"AtOffsetZero", "File Bestand\n", "File\0"s + std::string(98, '\0'), 3,
                   "File\0"s + std::string(98, '\0'), {0}, {0}},
        WindowCase{"InTheLastBytes", "File Bestand\n", std::string(100, '\0') + "File" + std::string(94, '\0'), 0,
                   std::string(100, '\0') + "File" + std::string(94, '\0'), {0}, {0}},
        WindowCase{"JustBeforeTheLastBytes", "File Bestand\n", std::string(100, '\0') + "File" + std::string(95, '\0'), 0,
                   std::string(100, '\0') + "Best" + std::string(95, '\0'), {1}, {0}},
        WindowCase{"Chain", "Aa Bb\nBb Cc\n", inside("\0Aa\0Bb\0"s), 0, inside("\0Cc\0Cc\0"s), {1, 2}, {0, 0}},
        WindowCase{"RepeatReplacedFirst", "File Weg\nFile Weg\n", inside("\0File\0"s), 0, inside("\0Weg\0\0"s),
                   {1, 0}, {0, 0}},
        WindowCase{"RepeatCutToItself", "File Filename\nFile Filename\n", inside("\0File\0"s), 0,
                   inside("\0File\0"s), {1, 1}, {0, 0}},
        WindowCase{"NoMatchInsideReplaced", "abc zzz\nc q\n", inside("\0abc\0"s), 3, inside("\0zzz\0"s), {1, 0},
                   {0, 0}},
        WindowCase{"RiskyInsideString", "c q\n", inside("\0abc\0"s), 3, inside("\0abq\0"s), {1}, {1}},
        WindowCase{"ShortFileCopied", "File Bestand\n", "\0File\0"s, 3, "\0File\0"s, {0}, {0}},
        WindowCase{"EmptyFile", "File Bestand\n", "", 3, "", {0}, {0}}),
    [](const testing::TestParamInfo<WindowCase>& info) { return info.param.name; });

TEST(WindowProgress, LineEveryHundredThousandBytesAfterTheFirst99) {
    struct Case {
        std::size_t size;
        std::string out;
    };
    for (const Case& c : {Case{99 + 99999, ""}, Case{99 + 100000, "100000      \r"},
                          Case{99 + 200001, "100000      \r200000      \r"}}) {
        OwnedList head = dictionary("A B\n");
        std::string in(c.size, 'x');
        std::string out;
        std::string progress;
        translate_bytes(head.get(), in, 0, out, false, collect(progress));
        EXPECT_EQ(progress, c.out) << c.size;
        EXPECT_EQ(out, in);
    }
}

// A copy that cannot be written, whether the blocks go to the writer's
// thread or are written in the caller, is a write error, not a success.
TEST(WindowStream, WriteFailureIsReported) {
    std::string in = std::string(3 * kBlockSize + 12345, 'x') + "\0File\0"s + std::string(98, '\0');
    for (std::size_t block : {std::size_t{64}, std::size_t{4096}, kBlockSize}) {
        OwnedList list = dictionary("File Bestand\n");
        std::FILE* prog = fmemopen(in.data(), in.size(), "rb");
        std::FILE* out = std::fopen("/dev/full", "wb");
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(translate_blocks(list.get(), prog, out, 0, block), TranslateStatus::write_error) << block;
        std::fclose(prog);
        std::fclose(out);
    }
}

// A translator thread is started on another core than its creator's, but
// runs its work free to use every core its creator may: none is left bound.
TEST(StartThread, RunsWithEveryCoreOfItsCreator) {
#if defined(__linux__)
    cpu_set_t creator;
    ASSERT_EQ(sched_getaffinity(0, sizeof creator, &creator), 0);
    cpu_set_t seen;
    CPU_ZERO(&seen);
    bool ran = false;
    std::thread t = start_thread([&] { ran = pthread_getaffinity_np(pthread_self(), sizeof seen, &seen) == 0; });
    t.join();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(CPU_EQUAL(&seen, &creator));
#else
    GTEST_SKIP() << "threads are placed on other cores on Linux only";
#endif
}

// The vector masks the scan relies on equal the byte-by-byte ones, for
// byte ranges from one value to all but 0, on bytes of every value.
TEST(ByteMasks, EqualTheByteByByteMasks) {
    std::uint64_t state = 12345;
    unsigned char bytes[64];
    struct Range {
        unsigned char lo;
        unsigned char span;
    };
    for (Range r : {Range{1, 254}, Range{0x21, 0x5d}, Range{'a', 0}, Range{0xff, 0}, Range{0x80, 0x7f}}) {
        for (int round = 0; round < 2000; ++round) {
            for (unsigned char& b : bytes) {
                state = state * 6364136223846793005ULL + 1442695040888963407ULL;
                unsigned pick = static_cast<unsigned>(state >> 56);
                // Many zeros and bytes at the range's edges, so that every test bites.
                b = pick < 64 ? 0 : pick < 96 ? r.lo : pick < 128 ? static_cast<unsigned char>(r.lo + r.span)
                                                                 : static_cast<unsigned char>(pick * 7 + round);
            }
            ChunkMasks fast = chunk_masks(bytes, r.lo, r.span);
            ChunkMasks plain = chunk_masks_portable(bytes, r.lo, r.span);
            ASSERT_EQ(fast.zero, plain.zero) << int{r.lo} << " round " << round;
            ASSERT_EQ(fast.in_range, plain.in_range) << int{r.lo} << " round " << round;
        }
    }
}

// The packed test of the units before, at and after each offset that the
// wide pass skips by keeps every offset of the unit-by-unit test, and adds
// none when every unit may stand before and the ranges fit in bytes; on
// units at the edges of the ranges and of the packing (255, 256, 0x7fff,
// 0x8000); and the zero units found with them equal the unit-by-unit ones.
TEST(ByteMasks, UnitTriplesKeepTheUnitByUnitOnes) {
    struct Row {
        std::uint16_t before_max;
        UnitRange at;
        UnitRange after;
        bool exact;
    };
    const Row rows[] = {
        {40, {0x21, 0x5d}, {0x21, 0x5d}, false},    // level 0, ASCII originals
        {0xffff, {0x21, 0x5d}, {0x61, 0}, true},    // the relaxed levels
        {0xffff, {1, 253}, {0, 0xffff}, true},      // the widest exact ranges; an original of one unit
        {97, {0x41, 0}, {0, 0xffff}, false},
        {97, {0xc0, 0x40}, {0x21, 0x5d}, false},    // up to 0x100
        {300, {0x100, 0x300}, {0x4e00, 0x100}, false},
        {0, {0x8000, 0x7fff}, {0xff, 1}, false},
    };
    std::uint64_t state = 777;
    unsigned char bytes[68];
    for (const Row& r : rows) {
        const std::uint16_t edges[] = {0, 1, r.before_max, static_cast<std::uint16_t>(r.before_max + 1), r.at.lo,
                                       static_cast<std::uint16_t>(r.at.lo + r.at.span), r.after.lo,
                                       static_cast<std::uint16_t>(r.after.lo + r.after.span + 1), 255, 256,
                                       0x7fff, 0x8000, 0xffff};
        const UnitTriples fast(r.before_max, r.at, r.after);
        for (int round = 0; round < 3000; ++round) {
            for (std::size_t k = 0; k < sizeof bytes; k += 2) {
                state = state * 6364136223846793005ULL + 1442695040888963407ULL;
                auto pick = static_cast<unsigned>(state >> 48);
                auto u = static_cast<std::uint16_t>(pick % 3 != 0 ? edges[pick % std::size(edges)] : pick);
                bytes[k] = static_cast<unsigned char>(u);
                bytes[k + 1] = static_cast<unsigned char>(u >> 8);
            }
            std::uint32_t got = fast(bytes + 2);
            std::uint32_t want = unit_triples_portable(bytes + 2, r.before_max, r.at, r.after);
            ASSERT_EQ(want & ~got, 0u) << "row " << &r - rows << " round " << round;
            ASSERT_EQ(zero_units(bytes + 2), zero_units_portable(bytes + 2)) << "row " << &r - rows;
            if (r.exact) {
                ASSERT_EQ(got, want) << "row " << &r - rows << " round " << round;
            }
        }
    }
}

// Every byte pass kernel this CPU runs, from the first chunk of a buffer to
// its last whole one, call after call: the chunks with a zero that has n
// in-range bytes before it in the buffer, found byte by byte here.
template <int n>
void expect_byte_kernel(MaskIsa isa, const std::vector<unsigned char>& b, unsigned char lo, unsigned char span,
                        const char* row) {
    std::vector<CandidateChunk> want;
    std::int64_t last_zero = -1;
    int run = 0;  // in-range bytes before the next
    for (std::size_t at = 0; at + 64 <= b.size(); at += 64) {
        CandidateChunk c{at, 0, 0, last_zero};
        for (unsigned k = 0; k < 64; ++k) {
            if (b[at + k] == 0) {
                c.zero |= std::uint64_t{1} << k;
                if (run >= n) c.ends |= std::uint64_t{1} << k;
                last_zero = static_cast<std::int64_t>(at + k);
            }
            run = byte_in_range(b[at + k], lo, span) ? run + 1 : 0;
        }
        if (c.ends != 0) want.push_back(c);
    }
    ByteScan<n> s{b.data(), 0, b.size(), lo, span, InRangeRuns<n>(0), -1};
    std::vector<CandidateChunk> got;
    while (s.at + 64 <= b.size()) {
        CandidateChunk out[kCandidateChunks];
        std::size_t from = s.at;
        std::size_t count = byte_scan_kernel<n>(isa)(s, out);
        ASSERT_GT(s.at, from);
        ASSERT_LE(s.at - from, kScanBytes);
        got.insert(got.end(), out, out + count);
    }
    EXPECT_EQ(s.at, b.size() / 64 * 64);
    EXPECT_EQ(s.last_zero, last_zero);
    ASSERT_EQ(got.size(), want.size()) << row << " isa " << int(isa) << " n " << n << " lo " << int{lo};
    for (std::size_t i = 0; i < got.size(); ++i) {
        const CandidateChunk& g = got[i];
        const CandidateChunk& w = want[i];
        ASSERT_TRUE(g.at == w.at && g.zero == w.zero && g.ends == w.ends && g.zero_before == w.zero_before)
            << row << " isa " << int(isa) << " n " << n << " lo " << int{lo} << " chunk at " << w.at;
    }
}

// The byte pass's scan and the wide pass's skip in every kernel this CPU
// runs (portable, SSE2, AVX2, AVX-512) against the portable masks, on buffers
// made to bite: all zeros, all 0xff, every byte value at every position of
// a chunk among runs of in-range bytes that end in zeros, runs that cross
// chunk ends, and random bytes; with ranges at 0 and 255 too. The wide skip
// passes over only chunks where unit_triples_portable finds no offset and
// keeps every offset it finds (AVX2 and AVX-512: exactly those).
TEST(MaskKernels, EveryKernelKeepsThePortableMasks) {
    std::uint64_t state = 4242;
    auto random = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<unsigned>(state >> 40);
    };
    struct Range {
        unsigned char lo;
        unsigned char span;
    };
    for (Range r : {Range{1, 254}, Range{0x21, 0x5d}, Range{'a', 0}, Range{0xff, 0}, Range{0x80, 0x7f}, Range{0, 0},
                    Range{0, 255}}) {
        const auto in = r.lo;  // a byte in range, and one out of it when there is one
        const auto out = static_cast<unsigned char>(r.lo + r.span + 1);
        struct Row {
            const char* name;
            std::vector<unsigned char> bytes;
        };
        std::vector<Row> rows{{"zeros", std::vector<unsigned char>(64 * 70 + 37, 0)},
                              {"0xff", std::vector<unsigned char>(64 * 70 + 37, 0xff)},
                              {"each value at each position", {}},
                              {"runs across chunk ends", {}},
                              {"random", {}}};
        for (unsigned v = 0; v < 256; ++v) {
            for (unsigned p = 0; p < 64; ++p) {
                for (unsigned k = 0; k < 64; ++k) rows[2].bytes.push_back(k % 9 == 8 ? 0 : in);
                rows[2].bytes[rows[2].bytes.size() - 64 + p] = static_cast<unsigned char>(v);
            }
        }
        for (unsigned c = 0; c < 200; ++c) {  // a zero at byte c % 10 after (c / 10) % 10 in range
            std::vector<unsigned char> chunk(64, out);
            chunk[c % 10] = 0;
            rows[3].bytes.insert(rows[3].bytes.end(), chunk.begin(), chunk.end());
            std::size_t zero = rows[3].bytes.size() - 64 + c % 10;
            for (unsigned k = 1; k <= (c / 10) % 10 && k <= zero; ++k) rows[3].bytes[zero - k] = in;
        }
        for (unsigned k = 0; k < 64 * 500 + 5; ++k) {
            unsigned pick = random() & 0xff;
            rows[4].bytes.push_back(pick < 64    ? 0
                                    : pick < 96  ? in
                                    : pick < 128 ? out
                                                 : static_cast<unsigned char>(pick * 7));
        }
        for (MaskIsa isa : runnable_mask_isas()) {
            for (const Row& row : rows) {
                expect_byte_kernel<1>(isa, row.bytes, r.lo, r.span, row.name);
                expect_byte_kernel<2>(isa, row.bytes, r.lo, r.span, row.name);
                expect_byte_kernel<4>(isa, row.bytes, r.lo, r.span, row.name);
                expect_byte_kernel<8>(isa, row.bytes, r.lo, r.span, row.name);
            }
        }
    }

    struct UnitRow {
        std::uint16_t before_max;
        UnitRange at;
        UnitRange after;
        bool exact;  // no more offsets than the unit-by-unit test, packed too
    };
    const UnitRow unit_rows[] = {
        {40, {0x21, 0x5d}, {0x21, 0x5d}, false}, {0xffff, {1, 253}, {0, 0xffff}, true},
        {97, {0xc0, 0x40}, {0x21, 0x5d}, false}, {300, {0x100, 0x300}, {0x4e00, 0x100}, false},
        {0, {0x8000, 0x7fff}, {0xff, 1}, false}, {0xffff, {0, 0xffff}, {0, 0xffff}, true},
    };
    for (const UnitRow& r : unit_rows) {
        const std::uint16_t edges[] = {0, 1, r.before_max, static_cast<std::uint16_t>(r.before_max + 1), r.at.lo,
                                       static_cast<std::uint16_t>(r.at.lo + r.at.span), r.after.lo,
                                       static_cast<std::uint16_t>(r.after.lo + r.after.span + 1), 255, 256,
                                       0x7fff, 0x8000, 0xffff};
        const std::size_t units = 32 * 300 + 2;  // the unit before the first chunk and after the last
        for (int fill : {0, 0xffff, -1}) {
            std::vector<unsigned char> b;
            for (std::size_t k = 0; k < units; ++k) {
                unsigned pick = random();
                auto u = static_cast<std::uint16_t>(fill >= 0         ? fill
                                                    : pick % 3 != 0 ? edges[pick % std::size(edges)]
                                                                    : pick);
                b.push_back(static_cast<unsigned char>(u));
                b.push_back(static_cast<unsigned char>(u >> 8));
            }
            const unsigned char* last = b.data() + b.size() - 66;
            for (MaskIsa isa : runnable_mask_isas()) {
                const UnitSkip skip(r.before_max, r.at, r.after, isa);
                const unsigned char* at = b.data() + 2;
                for (;;) {
                    std::uint32_t may = 0;
                    std::uint32_t zeros = 0;
                    const unsigned char* hit = skip(at, last, may, zeros);
                    for (; at < hit && at <= last; at += 64) {
                        ASSERT_EQ(unit_triples_portable(at, r.before_max, r.at, r.after), 0u)
                            << "isa " << int(isa) << " passed over " << at - b.data();
                    }
                    if (hit > last) break;
                    std::uint32_t want = unit_triples_portable(hit, r.before_max, r.at, r.after);
                    ASSERT_EQ(want & ~may, 0u) << "isa " << int(isa) << " at " << hit - b.data();
                    if (r.exact || isa == MaskIsa::avx2 || isa == MaskIsa::avx512bw) {
                        ASSERT_EQ(may, want) << "isa " << int(isa);
                    }
                    ASSERT_EQ(zeros, zero_units_portable(hit)) << "isa " << int(isa);
                    at = hit + 64;
                }
                // The masks of the run walk, every chunk whatever it holds.
                std::uint32_t mays[300];
                std::uint32_t zero_masks[300];
                skip.masks(b.data() + 2, 300, mays, zero_masks);
                for (std::size_t c = 0; c < 300; ++c) {
                    const unsigned char* chunk = b.data() + 2 + 64 * c;
                    const std::uint32_t want = unit_triples_portable(chunk, r.before_max, r.at, r.after);
                    ASSERT_EQ(want & ~mays[c], 0u) << "isa " << int(isa) << " chunk " << c;
                    if (r.exact || isa == MaskIsa::avx2 || isa == MaskIsa::avx512bw) {
                        ASSERT_EQ(mays[c], want) << "isa " << int(isa) << " chunk " << c;
                    }
                    ASSERT_EQ(zero_masks[c], zero_units_portable(chunk)) << "isa " << int(isa) << " chunk " << c;
                }
            }
        }
    }

    // The run walk's swaps: a text of each length around the kernels' edges
    // is replaced when it equals its original and left as it is when one
    // byte differs (the first, the last, byte 63 or byte 64), and no byte
    // around it moves.
    for (MaskIsa isa : runnable_mask_isas()) {
        std::vector<unsigned char> buf(64 * 300, 0x5a);
        std::vector<unsigned char> dict(2 * 128 * 100);
        std::vector<TextSwap> swaps;
        std::vector<unsigned char> want = buf;
        std::vector<bool> same;
        std::size_t at = 1;
        for (std::uint32_t len : {1, 2, 7, 8, 9, 16, 31, 32, 33, 63, 64, 65, 100, 127, 128}) {
            for (std::uint32_t differ : {0u, 1u, len, 64u, 65u}) {  // none, or the byte before this place
                unsigned char* o = dict.data() + 2 * 128 * swaps.size();
                for (std::uint32_t k = 0; k < 2 * len; ++k) o[k] = static_cast<unsigned char>(random());
                std::memcpy(buf.data() + at, o, len);
                if (differ != 0 && differ <= len) buf[at + differ - 1] ^= 1;
                same.push_back(std::memcmp(buf.data() + at, o, len) == 0);
                std::memcpy(want.data() + at, same.back() ? o + len : buf.data() + at, len);
                swaps.push_back(TextSwap{buf.data() + at, o, o + len, len});
                at += len + 1 + swaps.size() % 3;
            }
        }
        for (std::size_t from = 0; from < swaps.size(); from += 64) {
            const std::size_t n = std::min<std::size_t>(64, swaps.size() - from);
            const std::uint64_t made = swap_kernel(isa)(swaps.data() + from, n);
            for (std::size_t i = 0; i < n; ++i) {
                EXPECT_EQ((made >> i & 1) != 0, same[from + i]) << "isa " << int(isa) << " swap " << from + i;
            }
        }
        EXPECT_EQ(buf, want) << "isa " << int(isa);

        // The same texts of an even length through the lookup ring, each
        // with a bucket of its own: replaced and counted when it equals its
        // original; left to the caller when it differs and its bucket is full
        // or another slot has its key; else as it was.
        const RingKernels ring = ring_kernels(isa);
        const ZeroUnitsKernel zero_units = run_kernels(isa).zero_units;
        if (ring.add == nullptr || zero_units == nullptr) continue;
        std::vector<unsigned char> texts(64 * 300, 0x5a);
        std::vector<unsigned char> ring_want = texts;
        std::vector<RunBucket> buckets(128);
        std::vector<std::int64_t> counts(128, 0);
        std::vector<std::int64_t> want_counts(128, 0);
        std::vector<unsigned char*> want_left;
        auto found = std::make_unique<RunLookups>();
        at = 2;
        for (std::size_t j = 0; j < swaps.size(); ++j) {
            const std::uint32_t len = swaps[j].len;
            if (len % 2 != 0) continue;
            const std::size_t i = found->count++;
            std::memcpy(texts.data() + at, swaps[j].original, len);
            if (!same[j]) texts[at + (j % 2 != 0 ? 0 : len - 1)] ^= 1;  // its first or its last byte
            found->start[i] = static_cast<std::uint32_t>(at);
            found->units[i] = len / 2;
            found->hash[i] = std::uint64_t{i} << 40;
            RunBucket& k = buckets[i];
            const unsigned slot = i % 4;
            k.key[slot] = run_key(found->hash[i], len / 2);
            k.at[slot] = static_cast<std::uint32_t>(swaps[j].original - dict.data());
            k.id[slot] = static_cast<std::uint32_t>(i);
            // Another original alike in its hash, in the next slot: before
            // this one when this one is the last, so the text is compared
            // with that original (the first slot with the key) and differs.
            const bool alike = i % 5 == 0;
            if (alike) {
                const unsigned other = (slot + 1) % 4;
                k.key[other] = k.key[slot];
                k.at[other] = static_cast<std::uint32_t>(2 * 128 * ((j + 1) % swaps.size()));
                k.id[other] = static_cast<std::uint32_t>((i + 1) % 128);
            }
            if (i % 7 == 0) k.full = 1;
            const bool unsettled = alike || i % 7 == 0;
            if (same[j] && !(alike && slot == 3)) {
                std::memcpy(ring_want.data() + at, swaps[j].result, len);
                ++want_counts[i];
            } else {
                std::memcpy(ring_want.data() + at, texts.data() + at, len);
                if (unsettled) want_left.push_back(texts.data() + at);
            }
            at += len + 2;
        }
        auto g = std::make_unique<RunRing>();
        const RunTable table{buckets.data(), buckets.size() - 1, dict.data(), counts.data()};
        ring.add(*g, table, texts.data(), *found);
        ring.drain(*g, table);
        EXPECT_EQ(texts, ring_want) << "isa " << int(isa);
        EXPECT_EQ(counts, want_counts) << "isa " << int(isa);
        EXPECT_EQ(std::vector<unsigned char*>(g->left_text, g->left_text + g->lefts), want_left) << "isa " << int(isa);

        // The zero unit kernel lists the zero units of each chunk in order.
        std::uint32_t masks[16];
        std::vector<std::uint16_t> want_zeros;
        for (std::size_t c = 0; c < 16; ++c) {
            masks[c] = c == 3 ? 0 : c == 5 ? ~0u : random() * 2654435761u;
            for (unsigned bit = 0; bit < 32; ++bit) {
                if ((masks[c] >> bit & 1) != 0) want_zeros.push_back(static_cast<std::uint16_t>(32 * c + bit));
            }
        }
        std::vector<std::uint16_t> zeros(kRunWindowUnits + 32);
        zeros.resize(zero_units(WindowZeros{masks, 16, zeros.data()}));
        EXPECT_EQ(zeros, want_zeros) << "isa " << int(isa);
    }
}

}  // namespace
