// Fuzzes the translator against the literal window (followed, with -u, by
// the literal wide pass): the copy and every entry's counters must be equal,
// for any program bytes, dictionary, level, block size and -u.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "dictionary.h"
#include "po_catalogue.h"
#include "translator.h"
#include "wide_reference.h"
#include "window_translator.h"

namespace {

struct Counts {
    std::vector<std::int64_t> trans;
    std::vector<std::int64_t> risc;
    bool operator==(const Counts&) const = default;
};

Counts counts(const Trans_Tbl* head) {
    Counts c;
    for (const Trans_Tbl* e = head; e != nullptr; e = e->next) {
        c.trans.push_back(e->n_trans);
        c.risc.push_back(e->n_risc);
    }
    return c;
}

// A PO catalogue gives originals longer than 97 bytes, with line feeds and
// quotes.
EntryList dictionary(std::string_view text, bool po) {
    return (po ? read_po_bytes(text.data(), text.size(), "f.po", {}) : read_trans_bytes(text.data(), text.size(), {}))
        .entries;
}

}  // namespace

// Input: a level byte (bit 2: -u, bit 3: the dictionary is a PO catalogue), a block-size byte, a two-byte dictionary length, the
// dictionary, then the program bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    static constexpr int kLevels[] = {0, 1, 2, 3};
    const int relax = kLevels[data[0] & 3];
    const bool wide = (data[0] & 4) != 0;
    const bool po = (data[0] & 8) != 0;
    const std::size_t block = 1 + data[1];
    std::size_t dict_len = data[2] | (std::size_t{data[3]} << 8);
    std::string_view rest(reinterpret_cast<const char*>(data) + 4, size - 4);
    if (dict_len > rest.size()) dict_len = rest.size();
    std::string_view dict = rest.substr(0, dict_len);
    std::string program(rest.substr(dict_len));

    // Progress lines are compared by the unit tests, not here: none is asked for.
    EntryList oracle_list = dictionary(dict, po);
    EntryList fast_list = dictionary(dict, po);
    EntryList streamed_list = dictionary(dict, po);
    Trans_Tbl* oracle = oracle_list.get();
    Trans_Tbl* fast = fast_list.get();
    Trans_Tbl* streamed = streamed_list.get();
    std::string want;
    std::string got;
    window_translate_bytes(oracle, program, relax, want);
    if (wide) wide_reference(oracle, want, relax);
    translate_bytes(fast, program, relax, got, wide);
    if (got != want || !(counts(fast) == counts(oracle))) std::abort();

    if (!program.empty()) {
        std::FILE* in = fmemopen(program.data(), program.size(), "rb");
        char* buf = nullptr;
        std::size_t len = 0;
        std::FILE* out = open_memstream(&buf, &len);
        if (in == nullptr || out == nullptr) std::abort();
        if (translate_blocks(streamed, in, out, relax, block, wide) != TranslateStatus::ok) std::abort();
        std::fclose(in);
        std::fclose(out);
        if (std::string_view(buf, len) != want || !(counts(streamed) == counts(oracle))) std::abort();
        std::free(buf);
    }
    return 0;
}
