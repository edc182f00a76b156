// The translator against the literal window (and, with -u, the window
// followed by the literal wide pass) on generated files and dictionaries:
// the copy, the counts and, from a search that writes no copy, the offset of
// every hit, which a block must not shift. Every seed gives one file, one
// dictionary, one relax level and one block
// size; a mismatch names its seed. VORLANG_DIFF_SEEDS and VORLANG_DIFF_FIRST
// widen or move the run, e.g. to replay one seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "dictionary.h"
#include "owned_list.h"
#include "resource_bytes.h"
#include "translator.h"
#include "wide_reference.h"
#include "wide_text.h"
#include "window_translator.h"

namespace {

using namespace std::string_literals;

struct Rng {
    std::uint64_t state;
    std::uint64_t next() {  // splitmix64: the same numbers everywhere
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
    bool one_in(std::size_t n) { return below(n) == 0; }
    template <class T>
    const T& pick(const std::vector<T>& v) { return v[below(v.size())]; }
};

struct Pair {
    std::string org;
    std::string full;
};

// Texts are made of few distinct bytes, so that they repeat, end alike and
// chain; some seeds add a byte above 0x7f. Between them the file also holds
// bytes of any value, also outside the texts' range.
struct Shape {
    const char* bytes;
    std::size_t min_len;  // the shortest text
    // Some texts longer than 97 bytes, as only a catalogue gives them: the
    // window grows to hold them, and its last offset stays where it was.
    bool long_texts = false;

    std::string text(Rng& r, std::size_t len) const {
        std::string s;
        std::size_t n = std::strlen(bytes);
        for (std::size_t i = 0; i < len; ++i) s += bytes[r.below(n)];
        return s;
    }
    std::size_t text_len(Rng& r) const {
        if (long_texts && r.one_in(6)) return r.one_in(3) ? 97 + r.below(4) : 98 + r.below(kLongestCatalogueText - 97);
        return r.one_in(12) ? 90 + r.below(8) : min_len + r.below(6);
    }
};

Shape make_shape(Rng& r) {
    static const std::size_t kMinLens[] = {1, 1, 2, 3, 4, 5, 8, 10};
    return Shape{r.one_in(3) ? "aaabbb/1 \xe9" : "aaabbb/1 ", kMinLens[r.below(std::size(kMinLens))]};
}

std::string noise(Rng& r, std::size_t len) {
    std::string s;
    for (std::size_t i = 0; i < len; ++i) s += static_cast<char>(r.below(256));
    return s;
}

std::vector<Pair> make_pairs(Rng& r, const Shape& shape, const std::vector<std::string>& pool) {
    std::vector<Pair> pairs;
    std::size_t n = 1 + r.below(16);
    while (pairs.size() < n) {
        const std::string& org = r.pick(pool);
        switch (r.below(7)) {
            case 0: pairs.push_back({org, r.pick(pool)}); break;  // chains through the pool
            case 1: pairs.push_back({org, org}); break;
            case 2: pairs.push_back({org, org + shape.text(r, 1 + r.below(2))}); break;  // cut back to itself
            case 3: pairs.push_back({org, shape.text(r, 1 + r.below(org.size()))}); break;
            case 4:
                pairs.push_back({org, shape.text(r, std::min<std::size_t>(shape.long_texts ? kLongestCatalogueText : 99,
                                                                    org.size() + 1 + r.below(9)))});
                break;
            case 5:
                if (!pairs.empty()) pairs.push_back(r.pick(pairs));  // an exact repeat
                break;
            default: pairs.push_back({org, shape.text(r, org.size())}); break;
        }
    }
    return pairs;
}

// The list the dictionary reader would give for the pairs.
OwnedList make_list(const std::vector<Pair>& pairs) {
    OwnedList list = own(nullptr);
    Trans_Tbl* head = nullptr;
    Trans_Tbl* tail = nullptr;
    for (const Pair& p : pairs) {
        Trans_Tbl* e = create_entry(p.org, p.full);
        if (tail == nullptr) {
            head = e;
            list = own(head);
        } else {
            tail->next = e;
            e->prev = tail;
        }
        tail = e;
    }
    return list;
}

std::size_t file_size(Rng& r) {
    switch (r.below(10)) {
        case 0: return r.below(99);
        case 1: return 99 + r.below(3);
        case 2: return 100100 + r.below(30000);
        case 3:
        case 4: return 100 + r.below(400);
        default: return 500 + r.below(8000);
    }
}

std::string make_file(Rng& r, const Shape& shape, const std::vector<Pair>& pairs,
                      const std::vector<std::string>& pool) {
    std::vector<std::string> texts = pool;
    for (const Pair& p : pairs) {
        texts.push_back(p.org);
        texts.push_back(p.full.substr(0, p.org.size()));
    }
    static const char kBefore[] = "\0\0\0/X7\xe9 a";
    std::size_t size = file_size(r);
    std::string file;
    if (r.one_in(4)) file += r.pick(texts) + '\0';  // a text at offset 0
    while (file.size() < size) {
        switch (r.below(10)) {
            case 0:
            case 1: file.append(1 + r.below(3), '\0'); break;
            case 2: file += shape.text(r, 1 + r.below(8)); break;
            case 3: file += r.pick(texts) + static_cast<char>(kBefore[3 + r.below(6)]); break;  // not terminated
            case 4: file += shape.text(r, 100 + r.below(300)) + r.pick(texts) + '\0'; break;  // a long string
            case 5: file += noise(r, 1 + r.below(r.one_in(4) ? 200 : 8)); break;
            default: file += kBefore[r.below(sizeof kBefore - 1)] + r.pick(texts) + '\0'; break;
        }
    }
    file.resize(size);
    return file;
}

std::vector<std::int64_t> counters(const Trans_Tbl* head) {
    std::vector<std::int64_t> v;
    for (const Trans_Tbl* e = head; e != nullptr; e = e->next) {
        v.push_back(e->n_trans);
        v.push_back(e->n_risc);
    }
    return v;
}

struct Result {
    std::string out;
    std::string progress;
    std::vector<std::int64_t> counters;
    std::vector<std::pair<std::int64_t, std::size_t>> hits;  // offset and entry, sorted
};

// translator(head, out, progress, observe) fills out and may tell observe of
// its hits.
template <class F>
Result run(const std::vector<Pair>& pairs, F translator) {
    OwnedList list = make_list(pairs);
    std::unordered_map<const Trans_Tbl*, std::size_t> place;
    for (const Trans_Tbl* e = list.get(); e != nullptr; e = e->next) place.emplace(e, place.size());
    Result result;
    HitObserver observe = [&](const Trans_Tbl* e, std::int64_t offset) { result.hits.emplace_back(offset, place.at(e)); };
    translator(list.get(), result.out, collect(result.progress), observe);
    result.counters = counters(list.get());
    std::sort(result.hits.begin(), result.hits.end());
    return result;
}

// The file must not be empty (fmemopen refuses it).
std::FILE* open_bytes(std::string& file) {
    return file.empty() ? std::fopen("/dev/null", "rb") : fmemopen(file.data(), file.size(), "rb");
}

Result run_blocks(const std::vector<Pair>& pairs, std::string file, int relax, std::size_t block, bool wide = false) {
    return run(pairs, [&](Trans_Tbl* head, std::string& out, const MessageSink& progress, const HitObserver&) {
        char* buf = nullptr;
        std::size_t len = 0;
        std::FILE* copy = open_memstream(&buf, &len);
        std::FILE* prog = open_bytes(file);
        EXPECT_EQ(translate_blocks(head, prog, copy, relax, block, wide, progress), TranslateStatus::ok);
        std::fclose(prog);
        std::fclose(copy);
        out.assign(buf, len);
        std::free(buf);
    });
}

// The same from a file to a file, which the translator copies in segments
// on two threads; with blocks of kBlockSize, from indexes begun before, as
// vorlang translates.
Result run_files(const std::vector<Pair>& pairs, const std::string& file, int relax, std::size_t block,
                 bool wide = false) {
    return run(pairs, [&](Trans_Tbl* head, std::string& out, const MessageSink& progress, const HitObserver&) {
        std::FILE* prog = std::tmpfile();
        std::FILE* copy = std::tmpfile();
        ASSERT_TRUE(prog != nullptr && copy != nullptr);
        ASSERT_EQ(std::fwrite(file.data(), 1, file.size(), prog), file.size());
        std::rewind(prog);
        if (block == kBlockSize) {
            TranslationIndexes indexes(head, relax, wide);
            EXPECT_EQ(translate(indexes, prog, copy, progress), TranslateStatus::ok);
        } else {
            EXPECT_EQ(translate_blocks(head, prog, copy, relax, block, wide, progress), TranslateStatus::ok);
        }
        EXPECT_EQ(ftello(prog), static_cast<off_t>(file.size()));
        out.assign(file.size() + 1, '\0');  // one byte more shows a copy too long
        std::rewind(copy);
        out.resize(std::fread(out.data(), 1, out.size(), copy));
        std::fclose(prog);
        std::fclose(copy);
    });
}

// The hits the search reports, which writes no copy.
Result run_search(const std::vector<Pair>& pairs, std::string file, int relax, std::size_t block, bool wide = false) {
    return run(pairs, [&](Trans_Tbl* head, std::string&, const MessageSink&, const HitObserver& observe) {
        std::FILE* prog = open_bytes(file);
        EXPECT_EQ(find_texts(head, prog, relax, wide, observe, block), TranslateStatus::ok);
        std::fclose(prog);
    });
}

std::uint64_t env_number(const char* name, std::uint64_t fallback) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::strtoull(value, nullptr, 10) : fallback;
}

bool same(const Result& want, const Result& got, const char* what, std::uint64_t seed) {
    if (want.out == got.out && want.counters == got.counters && want.progress == got.progress) return true;
    ADD_FAILURE() << what << " differs from the window for seed " << seed << " (replay with VORLANG_DIFF_FIRST="
                  << seed << " VORLANG_DIFF_SEEDS=1): output " << (want.out == got.out ? "same" : "differs")
                  << ", counters " << (want.counters == got.counters ? "same" : "differ") << ", progress "
                  << (want.progress == got.progress ? "same" : "differs");
    return false;
}

// From 4096 on, blocks are written on the writer's thread; a file of 100 kB
// in blocks of 8192 goes round its buffers thrice.
const std::size_t kBlocks[] = {1, 2, 3, 5, 8, 64, 97, 98, 99, 100, 101, 255, 256, 257, 4096, 8192, kBlockSize};

// The search tells the window's offsets and counts, and shows no progress.
bool same_hits(const Result& want, const Result& got, const char* what, std::uint64_t seed) {
    if (want.hits == got.hits && want.counters == got.counters && got.progress.empty()) return true;
    auto first = std::mismatch(want.hits.begin(), want.hits.end(), got.hits.begin(), got.hits.end());
    ADD_FAILURE() << what << " differs from the window for seed " << seed << " (replay with VORLANG_DIFF_FIRST="
                  << seed << " VORLANG_DIFF_SEEDS=1): " << want.hits.size() << " hits against " << got.hits.size()
                  << (first.first != want.hits.end() ? ", first missing at offset " + std::to_string(first.first->first)
                                                     : std::string())
                  << ", counters " << (want.counters == got.counters ? "same" : "differ") << ", progress "
                  << (got.progress.empty() ? "none" : "shown");
    return false;
}

TEST(Differential, TranslatorEqualsWindow) {
    std::uint64_t first = env_number("VORLANG_DIFF_FIRST", 1);
    std::uint64_t seeds = env_number("VORLANG_DIFF_SEEDS", 300);
    std::uint64_t bytes = 0;
    std::int64_t counted = 0;  // the window's n_trans and n_risc, to show the files exercise them
    int failures = 0;
    for (std::uint64_t seed = first; seed < first + seeds && failures < 5; ++seed) {
        Rng r{seed};
        Shape shape = make_shape(r);
        shape.long_texts = seed % 4 == 0;
        std::vector<std::string> pool;
        for (std::size_t n = 3 + r.below(8); pool.size() < n;) pool.push_back(shape.text(r, shape.text_len(r)));
        std::vector<Pair> pairs = make_pairs(r, shape, pool);
        std::string file = make_file(r, shape, pairs, pool);
        static const int kLevels[] = {0, 1, 2, 3};
        int relax = kLevels[r.below(4)];
        std::size_t block = kBlocks[r.below(std::size(kBlocks))];
        bytes += file.size();

        Result want = run(pairs, [&](Trans_Tbl* head, std::string& out, const MessageSink& progress,
                                     const HitObserver& observe) {
            window_translate_bytes(head, file, relax, out, progress, &observe);
        });
        Result bytes_result = run(pairs, [&](Trans_Tbl* head, std::string& out, const MessageSink& progress,
                                             const HitObserver&) {
            translate_bytes(head, file, relax, out, false, progress);
        });
        Result blocks_result = run_blocks(pairs, file, relax, block);
        for (std::int64_t c : want.counters) counted += c;
        bool ok = same(want, bytes_result, "translate_bytes", seed);
        ok = same(want, blocks_result, "translate_blocks", seed) && ok;
        ok = same(want, run_files(pairs, file, relax, block), "translate_blocks from a file", seed) && ok;
        ok = same_hits(want, run_search(pairs, file, relax, block), "find_texts", seed) && ok;
        if (!ok) ++failures;
    }
    std::fprintf(stderr, "compared %llu seeds from %llu: %llu bytes, %lld counts\n",
                 static_cast<unsigned long long>(seeds), static_cast<unsigned long long>(first),
                 static_cast<unsigned long long>(bytes), static_cast<long long>(counted));
}

// Wide texts: letters, a digit, blanks, an e acute (two bytes, one unit), an
// A macron (a unit with a zero byte) and a smiley (a surrogate pair), so
// that cuts fall inside pairs and units hold zero bytes.
std::string wide_text(Rng& r, std::size_t chars, std::size_t longest = kLongestOriginal) {
    static const std::vector<std::string> kChars = {"a", "a", "b", "B", "1", " ", "&", "\xc3\xa9", "\xc4\x80",
                                                   "\xf0\x9f\x98\x80"};
    std::string s;
    while (chars-- > 0) {
        const std::string& c = r.pick(kChars);
        if (s.size() + c.size() > longest) break;
        s += c;
    }
    return s;
}

std::vector<Pair> make_wide_pairs(Rng& r, const std::vector<std::string>& pool) {
    std::vector<Pair> pairs;
    std::size_t n = 1 + r.below(12);
    while (pairs.size() < n) {
        const std::string& org = r.pick(pool);
        switch (r.below(9)) {
            case 0: pairs.push_back({org, r.pick(pool)}); break;
            case 8:  // a byte of a wide text that the byte pass may turn into another original's
                pairs.push_back({org.substr(0, 1), r.pick(pool).substr(0, 1)});
                break;
            case 1: pairs.push_back({org, org + wide_text(r, 1 + r.below(4))}); break;  // cut, maybe in a pair
            case 2: pairs.push_back({org, wide_text(r, 1 + r.below(3))}); break;        // padded with blanks
            case 3:
                if (!pairs.empty()) pairs.push_back(r.pick(pairs));  // a repeat
                break;
            case 4:
                if (!pairs.empty()) pairs.push_back({r.pick(pairs).org, wide_text(r, 4)});  // a conflict
                break;
            case 5: pairs.push_back({r.one_in(2) ? org + "\xff" : org, org + "\xe9"}); break;  // no UTF-8
            default: pairs.push_back({org, wide_text(r, org.size())}); break;
        }
    }
    return pairs;
}

// A family of texts alike but for one letter, as "icudt78l/zone/de.res" and
// "icudt78l/zone/fr.res", most of them originals: most are alike in the
// words the run hash reads, so they share a key and fill their bucket.
void add_family(Rng& r, std::vector<std::string>& pool, std::vector<Pair>& pairs) {
    std::string base;
    for (std::size_t n = 17 + r.below(40); n > 0; --n) base += static_cast<char>('a' + r.below(3));
    for (std::size_t n = 5 + r.below(8); n > 0; --n) {
        std::string t = base;
        t[r.below(t.size())] = static_cast<char>('d' + r.below(3));
        pool.push_back(t);
        if (!r.one_in(4)) pairs.push_back({t, wide_text(r, t.size())});
    }
}

// The UTF-16LE units of a text, or its bytes made even when it has none.
std::string units_of(const std::string& text) {
    std::string u;
    if (!utf8_to_utf16le(text, u)) u = text + (text.size() % 2 != 0 ? "\0"s : ""s);
    return u;
}

std::string make_wide_file(Rng& r, const std::vector<Pair>& pairs, const std::vector<std::string>& pool) {
    std::vector<std::string> texts = pool;
    for (const Pair& p : pairs) {
        texts.push_back(p.org);
        texts.push_back(p.full);
    }
    auto text = [&] { return units_of(r.pick(texts)); };
    // Originals of 4 units or more, which the run walk looks up by hash.
    std::vector<std::string> hashed;
    for (const Pair& p : pairs) {
        if (units_of(p.org).size() >= 8) hashed.push_back(units_of(p.org));
    }
    static const std::uint16_t kBefore[] = {0, 0, 1, 2, 3, 4, 5, 'A', '7', '&', 0x100, 0xD83D, 0xDE00};
    std::size_t size = r.one_in(8) ? r.below(99) : r.one_in(10) ? 100100 + r.below(20000) : 200 + r.below(6000);
    std::string file = r.one_in(4) ? word(0) + text() + word(0) : "";
    while (file.size() < size) {
        switch (r.below(13)) {
            case 11:
                // Texts back to back between zero units, mostly originals, as
                // in a resource section: enough for the run walk's windows.
                // Some hold a counted text after their first units.
                {
                    std::string run;
                    for (std::size_t n = 100 + r.below(150); n > 0; --n) {
                        std::string t = hashed.empty() || r.one_in(3) ? text() : r.pick(hashed);
                        if (r.one_in(8)) {
                            const std::string counted = text();
                            t = t.substr(0, 2 * r.below(t.size() / 2 + 1)) +
                                word(static_cast<std::uint16_t>(counted.size() / 2)) + counted;
                        }
                        run += t + word(0);
                    }
                    size = std::max(size, file.size() + run.size());  // kept whole
                    file += run;
                }
                break;
            case 0: file += menu_popup(text(), r.one_in(2) ? 0x10 : 0x90); break;
            case 1: file += menu_item(kBefore[r.below(std::size(kBefore))], text()); break;
            case 2: file += dialog_caption(text()); break;
            case 3: file += dialog_control(r.one_in(2) ? 0x80 : 0x82, text()); break;
            case 4: file += string_table({text(), text(), text()}); break;
            case 5: file += wide_literal(text()); break;
            case 6: file += word(kBefore[r.below(std::size(kBefore))]) + text() + word(kBefore[r.below(4)]); break;
            case 7: file += r.one_in(2) ? word(0xD83D) + text() + word(0) : word(0) + text() + word(0xDE00) + word(0); break;
            case 8: file += '\0' + r.pick(texts) + '\0'; break;  // for the byte pass
            case 9: file += static_cast<char>(r.below(3)); break;  // the texts after it stand at odd offsets
            case 10: file += noise(r, 1 + r.below(40)); break;
            default: file.append(2 * (1 + r.below(4)), '\0'); break;
        }
    }
    file.resize(size);
    return file;
}

TEST(Differential, WidePassEqualsReference) {
    std::uint64_t first = env_number("VORLANG_DIFF_FIRST", 1);
    std::uint64_t seeds = env_number("VORLANG_DIFF_SEEDS", 300);
    std::int64_t counted = 0;
    int failures = 0;
    for (std::uint64_t seed = first; seed < first + seeds && failures < 5; ++seed) {
        Rng r{seed};
        std::vector<std::string> pool;
        for (std::size_t n = 3 + r.below(6); pool.size() < n;) {
            // Some seeds have a catalogue's longer originals.
            if (seed % 4 == 0 && r.one_in(4)) {
                pool.push_back(wide_text(r, 90 + r.below(1500), kLongestCatalogueText));
                continue;
            }
            pool.push_back(wide_text(r, r.one_in(10) ? 40 + r.below(60) : 1 + r.below(6)));
        }
        std::vector<Pair> pairs = make_wide_pairs(r, pool);
        if (seed % 3 == 1) add_family(r, pool, pairs);
        std::string file = make_wide_file(r, pairs, pool);
        int relax = static_cast<int>(r.below(4));
        std::size_t block = kBlocks[r.below(std::size(kBlocks))];

        Result want = run(pairs, [&](Trans_Tbl* head, std::string& out, const MessageSink& progress,
                                     const HitObserver& observe) {
            window_translate_bytes(head, file, relax, out, progress, &observe);
            wide_reference(head, out, relax, &observe);
        });
        Result bytes_result = run(pairs, [&](Trans_Tbl* head, std::string& out, const MessageSink& progress,
                                             const HitObserver&) {
            translate_bytes(head, file, relax, out, true, progress);
        });
        Result blocks_result = run_blocks(pairs, file, relax, block, true);
        for (std::int64_t c : want.counters) counted += c;
        bool ok = same(want, bytes_result, "translate_bytes -u", seed);
        ok = same(want, blocks_result, "translate_blocks -u", seed) && ok;
        ok = same(want, run_files(pairs, file, relax, block, true), "translate_blocks -u from a file", seed) && ok;
        ok = same_hits(want, run_search(pairs, file, relax, block, true), "find_texts -u", seed) && ok;
        if (!ok) ++failures;
    }
    std::fprintf(stderr, "compared %llu seeds with -u: %lld counts\n", static_cast<unsigned long long>(seeds),
                 static_cast<long long>(counted));
}

}  // namespace
