#include "text_index.h"

#include <algorithm>
#include <array>
#include <bit>
#include <string_view>

namespace {

// The text a match leaves for the next entry to compare with: the cut
// translation up to its first zero.
std::string_view translation_of(const Trans_Tbl* e, std::size_t len) {
    return {e->new_name, strnlen(e->new_name, len)};
}

const unsigned char* bytes_of(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

// Filled a third to two thirds: a probe's run of slots rarely leaves its
// cache line, and the table, which a large copy's bytes push out of the
// caches between lookups, is half the size it was when filled at most half.
std::size_t table_size(std::size_t items) {
    return std::max<std::size_t>(16, std::bit_ceil(items + items / 2));
}

// The distinct originals, in the list order of their first entries, entered
// in the hash table as they are found; original_id gets each entry's.
void collect_originals(TextIndex& x, std::vector<std::int32_t>& original_id) {
    size_table(x, x.entries.size());
    original_id.assign(x.entries.size(), -1);
    for (std::size_t i = 0; i < x.entries.size(); ++i) {
        std::string_view org = original_of(x.entries[i]);
        original_id[i] = add_original(x, bytes_of(org.data()), org.size(), static_cast<std::int32_t>(i));
    }
}

void link_chains(TextIndex& x) {
    std::vector<std::int32_t> original_id;
    collect_originals(x, original_id);
    // The entries of each original, in list order.
    std::vector<std::size_t> first(x.originals.size() + 1, 0);
    for (std::int32_t id : original_id) ++first[static_cast<std::size_t>(id) + 1];
    for (std::size_t k = 1; k < first.size(); ++k) first[k] += first[k - 1];
    std::vector<std::int32_t> members(x.entries.size());
    {
        std::vector<std::size_t> fill(first.begin(), first.end() - 1);
        for (std::size_t i = 0; i < x.entries.size(); ++i) {
            members[fill[static_cast<std::size_t>(original_id[i])]++] = static_cast<std::int32_t>(i);
        }
    }
    x.next.assign(x.entries.size(), -1);
    std::vector<std::size_t> offset(x.entries.size());
    std::size_t total = 0;
    for (std::size_t i = 0; i < x.entries.size(); ++i) {
        Trans_Tbl* e = x.entries[i];
        std::size_t len = original_of(e).size();
        offset[i] = total;
        total += len;
        std::string_view t = translation_of(e, len);
        std::int32_t id = t.empty() ? -1 : find_original(x, bytes_of(t.data()), t.size());
        if (id < 0) continue;
        auto begin = members.begin() + static_cast<std::ptrdiff_t>(first[static_cast<std::size_t>(id)]);
        auto end = members.begin() + static_cast<std::ptrdiff_t>(first[static_cast<std::size_t>(id) + 1]);
        auto later = std::upper_bound(begin, end, static_cast<std::int32_t>(i));
        if (later != end) x.next[i] = *later;
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
    for (Original& o : x.originals) o.result = x.results.data() + offset[static_cast<std::size_t>(o.head)];
}

void fill_filters(TextIndex& x) {
    x.filter.assign((std::size_t{1} << kFilterBits) / 64, 0);
    x.tails.assign((std::size_t{1} << kTailBits) / 64, 0);
    x.min_len = kLongestCatalogueText + 1;
    x.max_len = 0;
    unsigned char lo = 255;
    unsigned char hi = 0;
    unsigned tail_lengths = 0;  // bit t: some original's tail is t bytes long
    for (const Original& o : x.originals) {
        std::size_t bit = filter_bit(o.len, o.text);
        x.filter[bit >> 6] |= std::uint64_t{1} << (bit & 63);
        std::size_t l = tail_length(o.len);
        std::size_t tail = tail_bit(o.text + o.len, l);
        x.tails[tail >> 6] |= std::uint64_t{1} << (tail & 63);
        tail_lengths |= 1U << l;
        x.min_len = std::min<std::size_t>(x.min_len, o.len);
        x.max_len = std::max<std::size_t>(x.max_len, o.len);
        for (std::size_t k = 0; k < o.len; ++k) {
            lo = std::min(lo, o.text[k]);
            hi = std::max(hi, o.text[k]);
        }
    }
    for (unsigned l : {8U, 4U, 3U, 2U, 1U}) {
        if ((tail_lengths >> l & 1) != 0) x.tail_probe[x.tail_probes++] = static_cast<unsigned char>(l);
    }
    x.byte_lo = lo;
    x.byte_span = static_cast<unsigned char>(hi >= lo ? hi - lo : 0);
}

// The ids of the originals in the order of their texts read backwards (one
// that is the start of another comes first). The first 8 bytes of each,
// high byte first and zeros after its end, decide most comparisons as one
// number; a tie is settled by the whole texts. Sorting once, rather than
// each node's originals by their next byte, saves about two fifths of
// building the trie.
void sort_backwards(std::vector<std::int32_t>& ids, const std::vector<unsigned char>& reversed,
                    const std::vector<std::uint32_t>& at) {
    struct Item {
        std::uint64_t head;
        std::int32_t id;
    };
    std::vector<Item> items(ids.size());
    for (std::size_t id = 0; id < ids.size(); ++id) {
        std::uint64_t head = 0;
        for (std::size_t k = 0; k < 8; ++k) {
            std::size_t pos = at[id] + k;
            head = head << 8 | (pos < at[id + 1] ? reversed[pos] : 0U);
        }
        items[id] = Item{head, static_cast<std::int32_t>(id)};
    }
    auto text = [&](std::int32_t id) {
        auto k = static_cast<std::size_t>(id);
        return std::string_view(reinterpret_cast<const char*>(reversed.data()) + at[k], at[k + 1] - at[k]);
    };
    auto before = [&](const Item& a, const Item& b) {
        if (a.head != b.head) return a.head < b.head;
        return text(a.id) < text(b.id);
    };
    // Put in order of their first byte by counting, then each byte's
    // originals sorted apart: fewer comparisons than sorting them all.
    std::array<std::size_t, 257> start{};
    for (const Item& item : items) ++start[(item.head >> 56) + 1];
    for (std::size_t b = 1; b < start.size(); ++b) start[b] += start[b - 1];
    std::vector<Item> by_byte(items.size());
    {
        std::array<std::size_t, 256> fill{};
        std::copy(start.begin(), start.end() - 1, fill.begin());
        for (const Item& item : items) by_byte[fill[item.head >> 56]++] = item;
    }
    for (std::size_t b = 0; b + 1 < start.size(); ++b) {
        std::sort(by_byte.begin() + static_cast<std::ptrdiff_t>(start[b]),
                  by_byte.begin() + static_cast<std::ptrdiff_t>(start[b + 1]), before);
    }
    for (std::size_t k = 0; k < by_byte.size(); ++k) ids[k] = by_byte[k].id;
}

// Built level by level. The originals below a node share its path, read
// backwards, and stand together in ids, sorted by their next byte: each run
// of one byte is a child.
void build_trie(TextIndex& x) {
    // The originals read backwards, packed together: walking the entries
    // themselves would miss the cache at every byte.
    std::vector<std::int32_t> ids(x.originals.size());
    std::vector<std::uint32_t> at(x.originals.size() + 1, 0);
    for (std::size_t id = 0; id < ids.size(); ++id) {
        ids[id] = static_cast<std::int32_t>(id);
        at[id + 1] = at[id] + x.originals[id].len;
    }
    std::vector<unsigned char> reversed(at.back());
    for (std::size_t id = 0; id < ids.size(); ++id) {
        const Original& o = x.originals[id];
        std::reverse_copy(o.text, o.text + o.len, reversed.begin() + at[id]);
    }
    sort_backwards(ids, reversed, at);
    std::size_t total = std::size_t{at.back()} + 1;
    // The byte at depth d from the end, or -1 for an original that ends there.
    auto key = [&](std::int32_t id, std::size_t d) {
        auto k = static_cast<std::size_t>(id);
        return at[k] + d == at[k + 1] ? -1 : int{reversed[at[k] + d]};
    };
    struct Span {
        std::size_t node;
        std::size_t lo;
        std::size_t hi;
        std::size_t depth;
    };
    x.nodes.reserve(total);
    x.node_byte.reserve(total);
    x.nodes.assign(1, TrieNode{0, -1, 0, -1});
    x.node_byte.assign(1, 0);
    // Depth first: a node's children are laid out when it is taken from
    // the stack, and the first child is taken next, so a chain of nodes
    // with one child each (most of a trie of texts) lies in consecutive
    // nodes, which a walk reads from one cache line or the next.
    std::vector<Span> stack{{0, 0, ids.size(), 0}};
    std::vector<Span> children;
    while (!stack.empty()) {
        const Span span = stack.back();
        stack.pop_back();
        const std::size_t depth = span.depth;
        if (span.hi - span.lo == 1 && depth > 0) {  // the root keeps its children
            std::int32_t id = ids[span.lo];
            TrieNode& node = x.nodes[span.node];
            if (key(id, depth) < 0) {
                node.original = id;
                node.first = static_cast<std::uint32_t>(x.nodes.size());
                continue;
            }
            // E.g. "Leave" beside "Save": the node of "eave" read backwards
            // has "Leave" only, and its head "L".
            const Original& o = x.originals[static_cast<std::size_t>(id)];
            node.only = id;
            node.first = static_cast<std::uint32_t>(x.only_heads.size());
            node.count = static_cast<std::uint32_t>(o.len - depth);
            x.only_heads.insert(x.only_heads.end(), o.text, o.text + node.count);
            continue;
        }
        std::size_t i = span.lo;
        // Originals are distinct, so at most one ends here, and sorts first.
        if (i < span.hi && key(ids[i], depth) < 0) x.nodes[span.node].original = ids[i++];
        x.nodes[span.node].first = static_cast<std::uint32_t>(x.nodes.size());
        children.clear();
        while (i < span.hi) {
            int c = key(ids[i], depth);
            std::size_t j = i;
            while (j < span.hi && key(ids[j], depth) == c) ++j;
            children.push_back(Span{x.nodes.size(), i, j, depth + 1});
            x.nodes.push_back(TrieNode{0, -1, 0, -1});
            x.node_byte.push_back(static_cast<unsigned char>(c));
            ++x.nodes[span.node].count;
            i = j;
        }
        stack.insert(stack.end(), children.rbegin(), children.rend());
    }
    std::fill(std::begin(x.root_child), std::end(x.root_child), -1);
    for (std::uint32_t k = 0; k < x.nodes[0].count; ++k) {
        std::uint32_t child = x.nodes[0].first + k;
        x.root_child[x.node_byte[child]] = static_cast<std::int32_t>(child);
    }
}

}  // namespace

void size_table(OriginalTable& t, std::size_t count) {
    t.originals.reserve(count);
    t.slots.assign(table_size(count), Slot{0, 0});
    t.slot_mask = t.slots.size() - 1;
}

std::int32_t add_original(OriginalTable& t, const unsigned char* text, std::size_t len, std::int32_t head) {
    const std::uint64_t hash = text_hash(text, len);
    std::int32_t id = find_original(t, text, len, hash);
    if (id >= 0) return id;
    id = static_cast<std::int32_t>(t.originals.size());
    t.originals.push_back(Original{text, nullptr, static_cast<std::uint32_t>(len), head, hash});
    std::uint64_t k = hash & t.slot_mask;
    while (t.slots[k].id != 0) k = (k + 1) & t.slot_mask;
    t.slots[k] = Slot{static_cast<std::uint32_t>(hash >> 32), static_cast<std::uint32_t>(id + 1)};
    return id;
}

void build_index(TextIndex& x, Trans_Tbl* head, bool suffixes) {
    std::size_t count = 0;
    for (Trans_Tbl* e = head; e != nullptr; e = e->next) ++count;
    x.entries.reserve(count);
    for (Trans_Tbl* e = head; e != nullptr; e = e->next) {
        std::size_t len = original_of(e).size();
        if (len != 0 && len <= kLongestCatalogueText) x.entries.push_back(e);
    }
    link_chains(x);
    fill_filters(x);
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
