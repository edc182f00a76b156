#include "text_index.h"

#include <algorithm>
#include <bit>
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

std::int32_t add_child(TextIndex& x, std::int32_t node, unsigned char c) {
    std::int32_t child = trie_child(x, node, c);
    if (child >= 0) return child;
    child = static_cast<std::int32_t>(x.node_original.size());
    x.node_original.push_back(-1);
    if (node == 0) {
        x.root_child[c] = child;
        return child;
    }
    std::uint64_t key = edge_key(node, c);
    std::uint64_t mask = x.edge_keys.size() - 1;
    std::uint64_t i = (key * 0x9E3779B97F4A7C15ULL) >> x.edge_shift;
    while (x.edge_keys[i] != 0) i = (i + 1) & mask;
    x.edge_keys[i] = key;
    x.edge_child[i] = child;
    return child;
}

void build_trie(TextIndex& x) {
    std::size_t edges = 0;
    for (const Original& o : x.originals) edges += o.len;
    std::size_t size = table_size(edges);
    x.edge_keys.assign(size, 0);
    x.edge_child.assign(size, -1);
    x.edge_shift = 64 - static_cast<unsigned>(std::countr_zero(size));
    std::fill(std::begin(x.root_child), std::end(x.root_child), -1);
    x.node_original.assign(1, -1);
    for (std::size_t id = 0; id < x.originals.size(); ++id) {
        const Original& o = x.originals[id];
        std::int32_t node = 0;
        for (std::size_t k = o.len; k-- > 0;) node = add_child(x, node, o.text[k]);
        x.node_original[static_cast<std::size_t>(node)] = static_cast<std::int32_t>(id);
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
