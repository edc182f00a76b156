#include "resource_tree.h"

#include <algorithm>
#include <cassert>
#include <numeric>
#include <unordered_set>

namespace {

constexpr std::uint32_t kHigh = 0x80000000u;
constexpr std::size_t kDirSize = 16;
constexpr std::size_t kEntrySize = 8;
constexpr std::size_t kDataEntrySize = 16;
constexpr unsigned kLevels = 3;  // type, name, language

std::string hex(std::uint64_t v) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    do {
        out.insert(out.begin(), digits[v & 15]);
        v >>= 4;
    } while (v != 0);
    return "0x" + out;
}

// Reads the tree through file, whose bytes [base, base + size) are the
// section from the root on: the few bytes of each directory, name and data
// entry, and the data of the entries kept in memory.
class TreeReader {
public:
    TreeReader(FileBytes& file, std::uint64_t base, std::uint64_t size, std::uint32_t rva, ResourceKeep keep)
        : file_(file), base_(base), size_(size), rva_(rva), keep_(keep), entries_left_(size / kEntrySize),
          // Names are copied into every entry below them; real trees stay
          // far below this.
          budget_(4 * size + (1u << 20)) {}

    ResourceRead run() {
        ResourceRead r;
        unsigned char root[kDirSize];
        if (size_ < kDirSize) {
            fail(ResourceError::out_of_bounds, "the resource directory is cut short at its root");
        } else if (get(0, root, kDirSize)) {
            r.tree.characteristics = le32(root);
            r.tree.time_stamp = le32(root + 4);
            r.tree.major_version = static_cast<std::uint16_t>(le16(root + 8));
            r.tree.minor_version = static_cast<std::uint16_t>(le16(root + 10));
            ResourceEntry path;
            walk(0, 0, path, r.tree.entries);
        }
        if (error_ != ResourceError::none) {
            r.tree = {};
            r.error = error_;
            r.message = std::move(message_);
        }
        return r;
    }

private:
    void fail(ResourceError e, std::string what) {
        if (error_ != ResourceError::none) return;
        error_ = e;
        message_ = std::move(what);
    }

    bool within(std::uint64_t offset, std::uint64_t n) const { return offset <= size_ && n <= size_ - offset; }

    // n bytes at offset, which within() has allowed; false (and the run
    // fails) when the file was cut short meanwhile.
    bool get(std::uint64_t offset, void* out, std::size_t n) {
        if (file_.read(base_ + offset, out, n)) return true;
        fail(ResourceError::out_of_bounds, "the resource section cannot be read");
        return false;
    }

    bool spend(std::uint64_t n) {
        if (n > budget_) {
            fail(ResourceError::too_many, "the resource entries copy more bytes than the section holds");
            return false;
        }
        budget_ -= n;
        return true;
    }

    bool key_of(std::uint32_t field, ResourceKey& key) {
        if ((field & kHigh) == 0) {
            key = ResourceKey::of(field);
            return true;
        }
        const std::uint32_t at = field & ~kHigh;
        unsigned char count[2];
        if (!within(at, 2)) {
            fail(ResourceError::out_of_bounds, "a resource name at " + hex(at) + " lies past the section");
            return false;
        }
        if (!get(at, count, 2)) return false;
        const std::uint32_t units = le16(count);
        if (!within(at + 2, 2 * std::uint64_t{units})) {
            fail(ResourceError::out_of_bounds, "the resource name at " + hex(at) + " runs past the section");
            return false;
        }
        std::vector<unsigned char> bytes(2 * std::size_t{units});
        if (!get(at + 2, bytes.data(), bytes.size())) return false;
        std::u16string name(units, u'\0');
        for (std::uint32_t i = 0; i < units; ++i) name[i] = static_cast<char16_t>(le16(bytes.data() + 2 * i));
        key = ResourceKey::of(std::move(name));
        return true;
    }

    // The directory at offset, at level (0 the root); path holds the keys
    // of the levels above.
    void walk(std::uint32_t offset, unsigned level, ResourceEntry& path, std::vector<ResourceEntry>& out) {
        if (!seen_.insert(offset).second) {
            fail(ResourceError::loop, "the resource directory at " + hex(offset) + " is reached twice");
            return;
        }
        unsigned char dir[kDirSize];
        if (!within(offset, kDirSize)) {
            fail(ResourceError::out_of_bounds, "a resource directory at " + hex(offset) + " lies past the section");
            return;
        }
        if (!get(offset, dir, kDirSize)) return;
        const std::uint64_t count = std::uint64_t{le16(dir + 12)} + le16(dir + 14);
        if (!within(offset + kDirSize, count * kEntrySize)) {
            fail(ResourceError::out_of_bounds, "the entries of the resource directory at " + hex(offset) +
                                                   " run past the section");
            return;
        }
        if (count > entries_left_) {
            fail(ResourceError::too_many, "the resource directories list more entries than the section holds");
            return;
        }
        entries_left_ -= count;
        for (std::uint64_t i = 0; i < count && error_ == ResourceError::none; ++i) {
            unsigned char e[kEntrySize];
            if (!get(offset + kDirSize + i * kEntrySize, e, kEntrySize)) return;
            ResourceKey& key = level == 0 ? path.type : level == 1 ? path.name : path.language;
            if (!key_of(le32(e), key)) return;
            const std::uint32_t target = le32(e + 4);
            const bool is_dir = (target & kHigh) != 0;
            if (is_dir != (level + 1 < kLevels)) {
                fail(ResourceError::bad_shape, std::string("the resource tree has a ") +
                                                   (is_dir ? "directory below" : "data entry above") +
                                                   " the language level at " + hex(offset));
                return;
            }
            if (is_dir) {
                walk(target & ~kHigh, level + 1, path, out);
            } else {
                leaf(target, path, out);
            }
        }
    }

    void leaf(std::uint32_t at, const ResourceEntry& path, std::vector<ResourceEntry>& out) {
        unsigned char entry[kDataEntrySize];
        if (!within(at, kDataEntrySize)) {
            fail(ResourceError::out_of_bounds, "a resource data entry at " + hex(at) + " lies past the section");
            return;
        }
        if (!get(at, entry, kDataEntrySize)) return;
        const std::uint64_t data_rva = le32(entry), data_size = le32(entry + 4);
        const std::uint64_t offset = data_rva - rva_;
        if (data_rva < rva_ || !within(offset, data_size)) {
            fail(ResourceError::out_of_bounds, "the data of the resource entry at " + hex(at) + " (RVA " +
                                                   hex(data_rva) + ", " + std::to_string(data_size) +
                                                   " bytes) lie outside the resource section");
            return;
        }
        const bool held = keep_ == nullptr || keep_(path.type);
        const std::uint64_t names = 2 * (path.type.name.size() + path.name.name.size() + path.language.name.size());
        // Data left in the file count too: the section written from them
        // stays within a few times the old one.
        if (!spend(data_size + names)) return;
        ResourceEntry& e = out.emplace_back();
        e.type = path.type;
        e.name = path.name;
        e.language = path.language;
        e.code_page = le32(entry + 8);
        if (held) {
            e.data.resize(static_cast<std::size_t>(data_size));
            get(offset, e.data.data(), e.data.size());
        } else {
            e.in_file_begin = base_ + offset;
            e.in_file_end = base_ + offset + data_size;
        }
    }

    FileBytes& file_;
    std::uint64_t base_;
    std::uint64_t size_;
    std::uint32_t rva_;
    ResourceKeep keep_;
    std::uint64_t entries_left_;
    std::uint64_t budget_;
    std::unordered_set<std::uint32_t> seen_;
    ResourceError error_ = ResourceError::none;
    std::string message_;
};

std::uint32_t fold(char16_t c) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20u;
    return c;
}

void put16(std::vector<unsigned char>& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<unsigned char>(v);
    b[at + 1] = static_cast<unsigned char>(v >> 8);
}

void put32(std::vector<unsigned char>& b, std::size_t at, std::uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

std::uint64_t align8(std::uint64_t v) { return (v + 7) & ~std::uint64_t{7}; }

// A directory of the layout: its entries' keys and what each leads to (the
// index of a directory, or of an entry of the tree at the last level).
struct Dir {
    std::vector<const ResourceKey*> keys;
    std::vector<std::size_t> targets;
    std::uint64_t offset = 0;
    bool last = false;  // a language directory: its entries lead to data entries
};

}  // namespace

int compare_resource_keys(const ResourceKey& a, const ResourceKey& b) {
    if (a.named != b.named) return a.named ? -1 : 1;
    if (!a.named) return a.id < b.id ? -1 : a.id > b.id ? 1 : 0;
    const std::size_t n = std::min(a.name.size(), b.name.size());
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t x = fold(a.name[i]), y = fold(b.name[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.name.size() != b.name.size()) return a.name.size() < b.name.size() ? -1 : 1;
    return a.name < b.name ? -1 : a.name > b.name ? 1 : 0;
}

ResourceRead read_resource_tree(const unsigned char* bytes, std::size_t size, std::uint32_t rva) {
    FileBytes file(bytes, size);
    return TreeReader(file, 0, size, rva, nullptr).run();
}

ResourceRead read_resource_tree(FileBytes& file, const PeImage& image, ResourceKeep keep) {
    const PeDirectory dir = image.directory(PeDirectoryIndex::resources);
    ResourceRead r;
    if (dir.rva == 0) {
        r.error = ResourceError::no_resources;
        r.message = "the program has no resources";
        return r;
    }
    const std::optional<PeSpan> span = image.span(dir.rva, 0);
    if (!span) {
        r.error = ResourceError::out_of_bounds;
        r.message = "the resource directory's RVA " + hex(dir.rva) + " lies in no section";
        return r;
    }
    return TreeReader(file, span->offset, span->room, dir.rva, keep).run();
}

ResourceImage write_resource_tree(const ResourceTree& tree, std::uint32_t rva) {
    ResourceImage img;
    const std::vector<ResourceEntry>& all = tree.entries;
    auto key_at = [](const ResourceEntry& e, unsigned level) -> const ResourceKey& {
        return level == 0 ? e.type : level == 1 ? e.name : e.language;
    };
    std::vector<std::size_t> order(all.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    auto compare = [&](std::size_t x, std::size_t y) {
        for (unsigned level = 0; level < kLevels; ++level) {
            const int c = compare_resource_keys(key_at(all[x], level), key_at(all[y], level));
            if (c != 0) return c;
        }
        return 0;
    };
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) { return compare(x, y) < 0; });
    for (std::size_t i = 1; i < order.size(); ++i) {
        if (compare(order[i - 1], order[i]) == 0) {
            img.error = ResourceError::duplicate;
            img.message = "two resources have the same type, name and language";
            return img;
        }
    }

    // The directories, depth first: each directory before those below it,
    // which follow it in the order of its entries. One pass over the sorted
    // entries builds them in that order.
    std::vector<Dir> dirs(1);
    std::size_t type_dir = 0, name_dir = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        const ResourceEntry& e = all[order[i]];
        const bool new_type = i == 0 || compare_resource_keys(all[order[i - 1]].type, e.type) != 0;
        const bool new_name = new_type || compare_resource_keys(all[order[i - 1]].name, e.name) != 0;
        if (new_type) {
            type_dir = dirs.size();
            dirs.emplace_back();
            dirs[0].keys.push_back(&e.type);
            dirs[0].targets.push_back(type_dir);
        }
        if (new_name) {
            name_dir = dirs.size();
            dirs.emplace_back().last = true;
            dirs[type_dir].keys.push_back(&e.name);
            dirs[type_dir].targets.push_back(name_dir);
        }
        dirs[name_dir].keys.push_back(&e.language);
        dirs[name_dir].targets.push_back(i);  // the i-th data entry
    }

    // Offsets: directories, strings, data entries, data.
    std::uint64_t at = 0;
    for (Dir& d : dirs) {
        d.offset = at;
        at += kDirSize + kEntrySize * d.keys.size();
        // Its named entries and its ids are counted in 16 bits each.
        const auto named = std::count_if(d.keys.begin(), d.keys.end(), [](auto k) { return k->named; });
        if (named > 0xFFFF || d.keys.size() - named > 0xFFFF) {
            img.error = ResourceError::too_large;
            img.message = "a resource directory would hold more than 65,535 names or ids";
            return img;
        }
    }
    std::vector<std::uint64_t> string_at;  // per key, in the order written below
    for (const Dir& d : dirs) {
        for (const ResourceKey* k : d.keys) {
            if (!k->named && k->id >= kHigh) {
                img.error = ResourceError::too_large;
                img.message = "a resource id passes 31 bits";
                return img;
            }
            if (!k->named) continue;
            if (k->name.size() > 0xFFFF) {
                img.error = ResourceError::too_large;
                img.message = "a resource name is longer than 65,535 units";
                return img;
            }
            string_at.push_back(at);
            at += 2 + 2 * std::uint64_t{k->name.size()};
        }
    }
    const std::uint64_t data_entries_at = align8(at);
    at = data_entries_at + kDataEntrySize * order.size();
    std::vector<std::uint64_t> data_at(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        at = align8(at);
        data_at[i] = at;
        at += all[order[i]].size();
        if (at + rva > UINT32_MAX) break;
    }
    if (at + rva > UINT32_MAX || at >= kHigh) {
        img.error = ResourceError::too_large;
        img.message = "the resources would pass the 4 GiB an image can address";
        return img;
    }

    std::vector<unsigned char>& b = img.bytes;
    b.assign(static_cast<std::size_t>(data_entries_at + kDataEntrySize * order.size()), 0);
    std::size_t next_string = 0;
    for (const Dir& dir : dirs) {
        const std::size_t o = static_cast<std::size_t>(dir.offset);
        put32(b, o, tree.characteristics);
        put32(b, o + 4, tree.time_stamp);
        put16(b, o + 8, tree.major_version);
        put16(b, o + 10, tree.minor_version);
        const auto named = std::count_if(dir.keys.begin(), dir.keys.end(), [](auto k) { return k->named; });
        put16(b, o + 12, static_cast<std::uint32_t>(named));
        put16(b, o + 14, static_cast<std::uint32_t>(dir.keys.size() - named));
        for (std::size_t j = 0; j < dir.keys.size(); ++j) {
            const ResourceKey& k = *dir.keys[j];
            const std::size_t e = o + kDirSize + j * kEntrySize;
            if (k.named) {
                const std::size_t s = static_cast<std::size_t>(string_at[next_string++]);
                put32(b, e, static_cast<std::uint32_t>(s) | kHigh);
                put16(b, s, static_cast<std::uint32_t>(k.name.size()));
                for (std::size_t u = 0; u < k.name.size(); ++u) put16(b, s + 2 + 2 * u, k.name[u]);
            } else {
                put32(b, e, k.id);
            }
            if (dir.last) {
                put32(b, e + 4, static_cast<std::uint32_t>(data_entries_at + kDataEntrySize * dir.targets[j]));
            } else {
                put32(b, e + 4, static_cast<std::uint32_t>(dirs[dir.targets[j]].offset) | kHigh);
            }
        }
    }
    for (std::size_t i = 0; i < order.size(); ++i) {
        const ResourceEntry& e = all[order[i]];
        const std::size_t o = static_cast<std::size_t>(data_entries_at + kDataEntrySize * i);
        put32(b, o, static_cast<std::uint32_t>(rva + data_at[i]));
        put32(b, o + 4, static_cast<std::uint32_t>(e.size()));
        put32(b, o + 8, e.code_page);
    }
    // The data after the data entries. E.g. data held at 0x100 (8 bytes),
    // left in the file at 0x108 (16 bytes), held at 0x118: bytes ends at
    // 0x108, from_file gets {0x108, ..., 16}, and the third data go at
    // 0x108 of bytes, 16 before their section offset: bytes never holds
    // the skipped ranges.
    std::uint64_t skipped = 0;
    for (std::size_t i = 0; i < order.size(); ++i) {
        const ResourceEntry& e = all[order[i]];
        assert(data_at[i] - skipped >= b.size());
        b.resize(static_cast<std::size_t>(data_at[i] - skipped), 0);
        if (e.held()) {
            b.insert(b.end(), e.data.begin(), e.data.end());
        } else {
            img.from_file.push_back(ResourceFromFile{data_at[i], e.in_file_begin, e.size()});
            skipped += e.size();
        }
    }
    b.resize(static_cast<std::size_t>(at - skipped), 0);
    return img;
}
