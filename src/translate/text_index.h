// The dictionary as the translator looks it up. At one position the window
// lets a chain of entries act in turn (the first entry whose original equals
// the text, then the first later one whose original equals that translation,
// and so on); what the chain leaves depends only on the original, so it is
// worked out once per distinct original.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "dictionary.h"
#include "translator.h"
#include "text_limits.h"

constexpr unsigned kFilterBits = 18;
constexpr unsigned kTailBits = 18;

struct Original {
    const unsigned char* text;
    const unsigned char* result;  // what the chain leaves, as many bytes as text
    std::uint32_t len;
    std::int32_t head;  // index in TextIndex::entries of the chain's first entry
    std::uint64_t hash;
};

struct Slot {
    std::uint32_t tag;  // high half of the original's hash
    std::uint32_t id;   // original index + 1; 0 for an empty slot
};

struct TrieNode {
    // The first child and the number of children. A node with only has
    // none: there they give where that original's bytes before the node's
    // path start in TextIndex::only_heads, and how many they are, so that
    // the walk decides it without reading the original's record.
    std::uint32_t first;
    std::int32_t original;  // the original that ends here, or -1
    std::uint32_t count;
    // The one original below this node, longer than its path, when it has
    // no other; its path is not laid out. -1 otherwise.
    std::int32_t only;
};

// Distinct originals, found by their bytes: open addressing over their hashes.

struct OriginalTable {
    std::vector<Original> originals;
    std::vector<Slot> slots;
    std::uint64_t slot_mask = 0;
    const HitObserver* observer = nullptr;
};

struct TextIndex : OriginalTable {
    std::vector<Trans_Tbl*> entries;  // those with a usable original, in list order
    std::vector<std::int32_t> next;   // per entry: the entry acting after it, or -1
    std::vector<unsigned char> results;
    std::vector<std::int64_t> clean;  // hits per original with a 0 byte before
    std::vector<std::int64_t> risky;  // hits per original with another byte before

    std::size_t min_len = 0;
    std::size_t max_len = 0;
    // Every byte of every original lies in byte_lo to byte_lo + byte_span.
    unsigned char byte_lo = 0;
    unsigned char byte_span = 0;
    // Bits that let most strings be passed over without hashing them or
    // walking the trie: by filter_bit, and by tail_bit of each original.
    std::vector<std::uint64_t> filter;
    std::vector<std::uint64_t> tails;
    // Each t for which tails holds the last t bytes of an original (its
    // whole text below 4 bytes, its last 4 up to 7, its last 8 from 8 on),
    // longest first: the probes of may_end_original.
    std::array<unsigned char, 5> tail_probe{};
    unsigned tail_probes = 0;

    // The originals read backwards from their last byte, for the relax
    // levels, where a match may begin inside a string. The children of a
    // node are consecutive, and the nodes are laid out depth first (see
    // build_trie).
    std::vector<TrieNode> nodes;  // node 0 is the root
    std::vector<unsigned char> node_byte;  // the byte that leads to each node, ascending among siblings
    std::vector<unsigned char> only_heads;
    std::int32_t root_child[256] = {};
};

// Makes room for count originals; the table must be empty.
void size_table(OriginalTable& table, std::size_t count);

// The original equal to the len bytes at text, entered with head (and text
// kept as its bytes, so they must outlive the table) when it is new.
// Throws std::bad_alloc.
std::int32_t add_original(OriginalTable& table, const unsigned char* text, std::size_t len, std::int32_t head);

// Builds the index over the list; suffixes also builds the backward trie.
// Entries with an empty original or one longer than kLongestCatalogueText
// never act.
// Throws std::bad_alloc.
void build_index(TextIndex& index, Trans_Tbl* head, bool suffixes);

// Adds the hits counted in the index to the counters of every chain member.
void add_counts(TextIndex& index);

inline std::uint64_t text_hash(const unsigned char* s, std::size_t n) {
    std::uint64_t h = 0x9E3779B97F4A7C15ULL * (n + 1);
    while (n >= 8) {
        std::uint64_t w;
        std::memcpy(&w, s, 8);
        h = (h ^ w) * 0xFF51AFD7ED558CCDULL;
        h ^= h >> 32;
        s += 8;
        n -= 8;
    }
    std::uint64_t w = 0;
    for (std::size_t k = 0; k < n; ++k) w |= std::uint64_t{s[k]} << (8 * k);
    h = (h ^ w) * 0xC4CEB9FE1A85EC53ULL;
    return h ^ (h >> 29);
}

// A text's length, its first two bytes and its last byte (the second byte is
// the terminating zero for a text of one byte).
inline std::size_t filter_bit(std::size_t len, const unsigned char* s) {
    std::uint32_t k = static_cast<std::uint32_t>(len) << 24 | std::uint32_t{s[0]} << 16 |
                      std::uint32_t{s[1]} << 8 | s[len - 1];
    return (k * 0x9E3779B1U) >> (32 - kFilterBits);
}

inline bool may_be_original(const TextIndex& x, const unsigned char* s, std::size_t len) {
    std::size_t bit = filter_bit(len, s);
    return (x.filter[bit >> 6] >> (bit & 63) & 1) != 0;
}

// The last l bytes before end (l is 1 to 4, or 8), and l.
inline std::size_t tail_bit(const unsigned char* end, std::size_t l) {
    std::uint64_t w = 0;
    if (l == 8) {
        std::memcpy(&w, end - 8, 8);
    } else if (l == 4) {
        std::uint32_t v;
        std::memcpy(&v, end - 4, 4);
        w = v;
    } else {
        for (std::size_t k = 1; k <= l; ++k) w = w << 8 | end[-static_cast<std::ptrdiff_t>(k)];
    }
    std::uint64_t k = (w ^ std::uint64_t{l} << 59) * 0x9E3779B97F4A7C15ULL;
    return static_cast<std::size_t>(k >> (64 - kTailBits));
}

// How many last bytes of an original of len bytes its tail bit covers.
inline std::size_t tail_length(std::size_t len) { return len < 4 ? len : len < 8 ? 4 : 8; }

inline bool tail_set(const TextIndex& x, const unsigned char* end, std::size_t l) {
    std::size_t bit = tail_bit(end, l);
    return (x.tails[bit >> 6] >> (bit & 63) & 1) != 0;
}

// Whether an original may end at end, where avail bytes before it may be
// part of it. A tail of 8 bytes keeps the strings that merely share a
// common ending with an original out of the trie: for the original
// "Disabled items", a tail of 4 bytes ("tems") would let "Print items" and
// "Show all items" through; its tail "ed items" lets neither.
inline bool may_end_original(const TextIndex& x, const unsigned char* end, std::size_t avail) {
    for (unsigned k = 0; k < x.tail_probes; ++k) {
        const unsigned l = x.tail_probe[k];
        if (avail >= l && tail_set(x, end, l)) return true;
    }
    return false;
}

// The original equal to the len bytes at s, whose text_hash is h, or -1.
inline std::int32_t find_original(const OriginalTable& x, const unsigned char* s, std::size_t len, std::uint64_t h) {
    auto tag = static_cast<std::uint32_t>(h >> 32);
    for (std::uint64_t i = h & x.slot_mask;; i = (i + 1) & x.slot_mask) {
        const Slot& slot = x.slots[i];
        if (slot.id == 0) return -1;
        if (slot.tag != tag) continue;
        const Original& o = x.originals[slot.id - 1];
        if (o.len == len && std::memcmp(o.text, s, len) == 0) return static_cast<std::int32_t>(slot.id - 1);
    }
}

// The original equal to the len bytes at s, or -1.
inline std::int32_t find_original(const OriginalTable& x, const unsigned char* s, std::size_t len) {
    return find_original(x, s, len, text_hash(s, len));
}

// For assertions: whether no original ends at end, where avail bytes
// before it may be part of it.
inline bool no_original_ends(const TextIndex& x, const unsigned char* end, std::size_t avail) {
    for (std::size_t l = x.min_len; l <= std::min(avail, x.max_len); ++l) {
        if (find_original(x, end - l, l) >= 0) return false;
    }
    return true;
}

// The trie node reached from node by the byte c, or -1.
inline std::int32_t trie_child(const TextIndex& x, std::int32_t node, unsigned char c) {
    if (node == 0) return x.root_child[c];
    const TrieNode& n = x.nodes[static_cast<std::size_t>(node)];
    const unsigned char* bytes = x.node_byte.data() + n.first;
    if (n.count > 8) {
        const void* found = std::memchr(bytes, c, n.count);
        return found == nullptr ? -1 : static_cast<std::int32_t>(static_cast<const unsigned char*>(found) - x.node_byte.data());
    }
    for (std::uint32_t k = 0; k < n.count; ++k) {
        if (bytes[k] == c) return static_cast<std::int32_t>(n.first + k);
    }
    return -1;
}
