#include "text_index.h"

#include <algorithm>
#include <bit>
#include <string>
#include <string_view>
#include <unordered_map>

namespace {

std::string_view original_of(const Trans_Tbl* e) {
    return {e->org_name, strnlen(e->org_name, kTextField)};
}

// The text a match leaves for the next entry to compare with: the cut
// translation up to its first zero.
std::string_view translation_of(const Trans_Tbl* e, std::size_t len) {
    return {e->new_name, strnlen(e->new_name, len)};
}

const unsigned char* bytes_of(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

std::size_t table_size(std::size_t items) {
    return std::max<std::size_t>(16, std::bit_ceil(items * 2));
}

void link_chains(TextIndex& x) {
    std::unordered_map<std::string_view, std::vector<std::int32_t>> by_original;
    for (std::size_t i = 0; i < x.entries.size(); ++i) {
        by_original[original_of(x.entries[i])].push_back(static_cast<std::int32_t>(i));
    }
    x.next.assign(x.entries.size(), -1);
    std::vector<std::size_t> offset(x.entries.size());
    std::size_t total = 0;
    for (std::size_t i = 0; i < x.entries.size(); ++i) {
        Trans_Tbl* e = x.entries[i];
        std::size_t len = original_of(e).size();
        offset[i] = total;
        total += len;
        auto found = by_original.find(translation_of(e, len));
        if (found == by_original.end()) continue;
        auto later = std::upper_bound(found->second.begin(), found->second.end(), static_cast<std::int32_t>(i));
        if (later != found->second.end()) x.next[i] = *later;
    }
    // Each entry copies its cut translation over the text, then the rest of
    // its chain overwrites the front; next[i] > i, so work from the back.
    x.results.resize(total);
    for (std::size_t i = x.entries.size(); i-- > 0;) {
        Trans_Tbl* e = x.entries[i];
        unsigned char* out = x.results.data() + offset[i];
        std::memcpy(out, e->new_name, original_of(e).size());
        if (x.next[i] >= 0) {
            auto n = static_cast<std::size_t>(x.next[i]);
            std::memcpy(out, x.results.data() + offset[n], original_of(x.entries[n]).size());
        }
    }
    for (std::size_t i = 0; i < x.entries.size(); ++i) {
        std::string_view org = original_of(x.entries[i]);
        if (by_original[org].front() != static_cast<std::int32_t>(i)) continue;
        x.originals.push_back(Original{bytes_of(org.data()), x.results.data() + offset[i],
                                       static_cast<std::uint32_t>(org.size()), static_cast<std::int32_t>(i),
                                       text_hash(bytes_of(org.data()), org.size())});
    }
}

void fill_table(TextIndex& x) {
    x.slots.assign(table_size(x.originals.size()), Slot{0, 0});
    x.slot_mask = x.slots.size() - 1;
    x.filter.assign((std::size_t{1} << kFilterBits) / 64, 0);
    x.endings.assign(65536 / 64, 0);
    x.min_len = kMaxOriginal + 1;
    x.max_len = 0;
    unsigned char lo = 255;
    unsigned char hi = 0;
    for (std::size_t id = 0; id < x.originals.size(); ++id) {
        const Original& o = x.originals[id];
        std::uint64_t i = o.hash & x.slot_mask;
        while (x.slots[i].id != 0) i = (i + 1) & x.slot_mask;
        x.slots[i] = Slot{static_cast<std::uint32_t>(o.hash >> 32), static_cast<std::uint32_t>(id + 1)};
        std::size_t bit = filter_bit(o.len, o.text);
        x.filter[bit >> 6] |= std::uint64_t{1} << (bit & 63);
        if (o.len >= 2) {
            std::size_t pair = std::size_t{o.text[o.len - 2]} << 8 | o.text[o.len - 1];
            x.endings[pair >> 6] |= std::uint64_t{1} << (pair & 63);
        }
        x.min_len = std::min<std::size_t>(x.min_len, o.len);
        x.max_len = std::max<std::size_t>(x.max_len, o.len);
        for (std::size_t k = 0; k < o.len; ++k) {
            lo = std::min(lo, o.text[k]);
            hi = std::max(hi, o.text[k]);
        }
    }
    x.byte_lo = lo;
    x.byte_span = static_cast<unsigned char>(hi >= lo ? hi - lo : 0);
}

// Built level by level from the reversed originals in sorted order: the
// originals below a node share its path and stand together, grouped by the
// next byte.
void build_trie(TextIndex& x) {
    std::vector<std::pair<std::string, std::int32_t>> reversed;
    for (std::size_t id = 0; id < x.originals.size(); ++id) {
        const Original& o = x.originals[id];
        reversed.emplace_back(std::string(o.text, o.text + o.len), static_cast<std::int32_t>(id));
        std::reverse(reversed.back().first.begin(), reversed.back().first.end());
    }
    std::sort(reversed.begin(), reversed.end());
    struct Span {
        std::size_t node;
        std::size_t lo;
        std::size_t hi;
    };
    x.nodes.assign(1, TrieNode{0, -1, 0});
    x.node_byte.assign(1, 0);
    std::vector<Span> level{{0, 0, reversed.size()}};
    std::vector<Span> next;
    for (std::size_t depth = 0; !level.empty(); ++depth) {
        next.clear();
        for (const Span& span : level) {
            std::size_t i = span.lo;
            // Originals are distinct, so at most one ends here, and sorts first.
            if (i < span.hi && reversed[i].first.size() == depth) x.nodes[span.node].original = reversed[i++].second;
            x.nodes[span.node].first = static_cast<std::uint32_t>(x.nodes.size());
            while (i < span.hi) {
                auto c = static_cast<unsigned char>(reversed[i].first[depth]);
                std::size_t j = i;
                while (j < span.hi && static_cast<unsigned char>(reversed[j].first[depth]) == c) ++j;
                next.push_back(Span{x.nodes.size(), i, j});
                x.nodes.push_back(TrieNode{0, -1, 0});
                x.node_byte.push_back(c);
                ++x.nodes[span.node].count;
                i = j;
            }
        }
        std::swap(level, next);
    }
    std::fill(std::begin(x.root_child), std::end(x.root_child), -1);
    for (std::uint32_t k = 0; k < x.nodes[0].count; ++k) {
        std::uint32_t child = x.nodes[0].first + k;
        x.root_child[x.node_byte[child]] = static_cast<std::int32_t>(child);
    }
}

}  // namespace

void build_index(TextIndex& x, Trans_Tbl* head, bool suffixes) {
    for (Trans_Tbl* e = head; e != nullptr; e = e->next) {
        std::size_t len = original_of(e).size();
        if (len != 0 && len <= kMaxOriginal) x.entries.push_back(e);
    }
    link_chains(x);
    fill_table(x);
    x.clean.assign(x.originals.size(), 0);
    x.risky.assign(x.originals.size(), 0);
    if (suffixes) build_trie(x);
}

void add_counts(TextIndex& x) {
    std::vector<std::int64_t> clean(x.entries.size(), 0);
    std::vector<std::int64_t> risky(x.entries.size(), 0);
    for (std::size_t id = 0; id < x.originals.size(); ++id) {
        auto head = static_cast<std::size_t>(x.originals[id].head);
        clean[head] += x.clean[id];
        risky[head] += x.risky[id];
        x.clean[id] = 0;
        x.risky[id] = 0;
    }
    // A hit on a chain is a hit on each of its members, in list order.
    for (std::size_t i = 0; i < x.entries.size(); ++i) {
        if (x.next[i] >= 0) {
            auto n = static_cast<std::size_t>(x.next[i]);
            clean[n] += clean[i];
            risky[n] += risky[i];
        }
        x.entries[i]->n_trans += clean[i] + risky[i];
        x.entries[i]->n_risc += risky[i];
    }
}
