// The PE reader, by hand: the section table, and as hidden the names the
// program imports and exports by, its debug directory and data, its COFF
// symbols and the section table itself.
#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_set>

#include "section_readers.h"

namespace {

// Units of work: table entries walked and name bytes read. A crafted file
// can make many entries share a name (read once) or name overlapping
// strings (read each time); past this budget it gets the unknown map.
constexpr std::uint64_t kBudget = 1 << 25;
// A name is hidden up to here; the rest of a longer one follows no zero
// byte, so no scan for texts starts in it.
constexpr std::uint64_t kLongestName = 4096;
constexpr std::uint64_t kLongestSectionName = 256;
// Section flags: holds code, may be executed.
constexpr std::uint32_t kCode = 0x20;
constexpr std::uint32_t kExecute = 0x20000000;

std::uint32_t u16(const unsigned char* p) { return static_cast<std::uint32_t>(p[0] | p[1] << 8); }
std::uint32_t u32(const unsigned char* p) { return u16(p) | u16(p + 2) << 16; }
std::uint64_t u64(const unsigned char* p) { return u32(p) | std::uint64_t{u32(p + 4)} << 32; }

// Headers that make no sense; caught in read_pe_map.
struct Broken {};

class PeReader {
public:
    explicit PeReader(FileBytes& file) : file_(file) {}
    ProgramMap read();

private:
    struct Raw {
        std::uint64_t va, size, offset;
    };
    struct Where {
        std::uint64_t offset;
        std::uint64_t room;  // bytes from offset to the end of its section or the headers
    };

    FileBytes& file_;
    ProgramMap map_;
    std::uint64_t work_ = 0;
    bool plus_ = false;  // PE32+: 8-byte thunks
    std::uint64_t image_base_ = 0;
    std::uint64_t header_size_ = 0;
    std::uint64_t strings_at_ = 0, strings_size_ = 0;  // the COFF string table, if any
    std::vector<Raw> by_va_;
    std::unordered_set<std::uint64_t> seen_;  // names hidden already

    void charge(std::uint64_t units) {
        work_ += units;
        if (work_ > kBudget) throw Broken{};
    }
    void get(std::uint64_t offset, void* out, std::size_t n) {
        if (!file_.read(offset, out, n)) throw Broken{};
    }
    std::uint32_t get32(std::uint64_t offset) {
        unsigned char b[4];
        get(offset, b, 4);
        return u32(b);
    }
    std::uint64_t get64(std::uint64_t offset) {
        unsigned char b[8];
        get(offset, b, 8);
        return u64(b);
    }
    // The caller has checked that the range lies within the file.
    void hide(std::uint64_t offset, std::uint64_t size) { map_.hidden.push_back({offset, offset + size}); }
    void hide_in_file(std::uint64_t offset, std::uint64_t size) {
        if (offset > file_.size() || size > file_.size() - offset) throw Broken{};
        hide(offset, size);
    }

    Where at(std::uint64_t rva, std::uint64_t size);
    std::uint64_t name_size(std::uint64_t offset, std::uint64_t room, std::uint64_t longest);
    void hide_name(std::uint64_t rva, unsigned lead);
    std::string section_name(const unsigned char* raw);
    void imports(std::uint64_t rva, unsigned entry, unsigned name_field, unsigned table_field, unsigned spare_field,
                 bool delay);
    void lookup_table(std::uint64_t rva, std::uint64_t base);
    void exports(std::uint64_t rva, std::uint64_t size);
    void debug(std::uint64_t rva, std::uint64_t size);
};

// Where [rva, rva + size) lies in the file: in the raw data of the section
// that holds rva, or in the headers.
PeReader::Where PeReader::at(std::uint64_t rva, std::uint64_t size) {
    auto it = std::upper_bound(by_va_.begin(), by_va_.end(), rva,
                               [](std::uint64_t r, const Raw& s) { return r < s.va; });
    std::uint64_t offset = rva, end = std::min(header_size_, file_.size());
    if (it != by_va_.begin() && rva - std::prev(it)->va < std::prev(it)->size) {
        offset = std::prev(it)->offset + (rva - std::prev(it)->va);
        end = std::prev(it)->offset + std::prev(it)->size;
    } else if (rva >= header_size_) {
        throw Broken{};
    }
    if (offset > end || size > end - offset) throw Broken{};
    return {offset, end - offset};
}

// The size, its zero included, of the name at offset, which must end within
// room bytes; a name longer than longest is cut there.
std::uint64_t PeReader::name_size(std::uint64_t offset, std::uint64_t room, std::uint64_t longest) {
    char chunk[256];
    std::uint64_t size = 0;
    while (size < longest) {
        if (size == room) throw Broken{};  // runs off its section or the file
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof chunk, room - size));
        get(offset + size, chunk, n);
        const char* zero = static_cast<const char*>(std::memchr(chunk, 0, n));
        if (zero != nullptr) n = static_cast<std::size_t>(zero - chunk) + 1;
        charge(n);
        size += n;
        if (zero != nullptr) return size;
    }
    return longest;
}

// Hides the zero-terminated name at rva, after lead bytes (a hint).
void PeReader::hide_name(std::uint64_t rva, unsigned lead) {
    charge(16);  // bounds the ranges and seen names kept
    Where w = at(rva, lead);
    if (!seen_.insert(w.offset).second) return;
    hide(w.offset, lead + name_size(w.offset + lead, w.room - lead, kLongestName));
}

// A name of the form "/123" stands at that offset in the COFF string table.
std::string PeReader::section_name(const unsigned char* raw) {
    std::string name(reinterpret_cast<const char*>(raw), ::strnlen(reinterpret_cast<const char*>(raw), 8));
    if (name.size() < 2 || name[0] != '/' || strings_size_ == 0 ||
        name.find_first_not_of("0123456789", 1) != std::string::npos) {
        return name;
    }
    std::uint64_t offset = std::stoull(name.substr(1));  // at most 7 digits
    if (offset >= strings_size_) throw Broken{};
    std::uint64_t at = strings_at_ + offset;
    std::uint64_t size = name_size(at, strings_size_ - offset, kLongestSectionName);
    name.resize(static_cast<std::size_t>(size));
    get(at, name.data(), name.size());
    name.resize(::strnlen(name.data(), name.size()));
    return name;
}

// Walks an import descriptor array up to its all-zero entry. Each entry is
// entry bytes, with the DLL name's RVA at name_field and the lookup table's
// at table_field, or at spare_field when that is zero. Delay-load entries
// begin with attributes whose bit 0 clear means the fields are addresses.
void PeReader::imports(std::uint64_t rva, unsigned entry, unsigned name_field, unsigned table_field,
                       unsigned spare_field, bool delay) {
    Where w = at(rva, entry);
    for (std::uint64_t i = 0;; i += entry) {
        charge(1);
        if (entry > w.room - i) throw Broken{};  // no end before the end of its section
        unsigned char d[32];
        get(w.offset + i, d, entry);
        if (std::all_of(d, d + entry, [](unsigned char c) { return c == 0; })) {
            hide(w.offset, i + entry);
            return;
        }
        std::uint64_t base = delay && (d[0] & 1) == 0 ? image_base_ : 0;
        if (std::uint32_t name = u32(d + name_field); name != 0) {
            if (name < base) throw Broken{};
            hide_name(name - base, 0);
        }
        std::uint32_t table = u32(d + table_field) != 0 ? u32(d + table_field) : u32(d + spare_field);
        if (table != 0) {
            if (table < base) throw Broken{};
            lookup_table(table - base, base);
        }
    }
}

// Hides a lookup table up to its zero entry, and the hint/name entry of
// each import by name (an import by ordinal has the top bit set).
void PeReader::lookup_table(std::uint64_t rva, std::uint64_t base) {
    const unsigned width = plus_ ? 8 : 4;
    Where w = at(rva, width);
    for (std::uint64_t i = 0;; i += width) {
        charge(1);
        if (width > w.room - i) throw Broken{};
        std::uint64_t e = plus_ ? get64(w.offset + i) : get32(w.offset + i);
        if (e == 0) {
            hide(w.offset, i + width);
            return;
        }
        if (e >> (width * 8 - 1) != 0) continue;
        if (e < base) throw Broken{};
        hide_name(e - base, 2);
    }
}

// The whole directory, and the DLL name and the exported names wherever
// they stand.
void PeReader::exports(std::uint64_t rva, std::uint64_t size) {
    Where w = at(rva, std::max<std::uint64_t>(size, 40));
    hide(w.offset, size);
    unsigned char d[40];
    get(w.offset, d, sizeof d);
    if (u32(d + 12) != 0) hide_name(u32(d + 12), 0);
    std::uint64_t count = u32(d + 24);
    if (count == 0) return;
    Where names = at(u32(d + 32), count * 4);
    for (std::uint64_t i = 0; i < count; ++i) {
        charge(1);
        hide_name(get32(names.offset + i * 4), 0);
    }
}

// The 28-byte entries, and the data each points to by file offset (e.g.
// the path of the debug file).
void PeReader::debug(std::uint64_t rva, std::uint64_t size) {
    Where w = at(rva, size);
    hide(w.offset, size);
    for (std::uint64_t i = 0; i + 28 <= size; i += 28) {
        charge(1);
        std::uint32_t data_size = get32(w.offset + i + 16), data_at = get32(w.offset + i + 24);
        if (data_size != 0 && data_at != 0) hide_in_file(data_at, data_size);
    }
}

ProgramMap PeReader::read() {
    std::uint64_t pe = get32(0x3C);
    unsigned char coff[24];
    get(pe, coff, sizeof coff);
    if (std::memcmp(coff, "PE\0\0", 4) != 0) throw Broken{};
    std::uint64_t sections = u16(coff + 6), symbols_at = u32(coff + 12), symbols = u32(coff + 16);
    std::uint64_t optional_at = pe + sizeof coff, optional_size = u16(coff + 20);
    std::vector<unsigned char> opt(static_cast<std::size_t>(optional_size));
    get(optional_at, opt.data(), opt.size());
    plus_ = optional_size >= 2 && u16(opt.data()) == 0x20b;
    if (!plus_ && (optional_size < 2 || u16(opt.data()) != 0x10b)) throw Broken{};
    const std::uint64_t dirs_at = plus_ ? 112 : 96;
    if (optional_size < dirs_at) throw Broken{};
    image_base_ = plus_ ? u64(&opt[24]) : u32(&opt[28]);
    header_size_ = u32(&opt[60]);
    const std::uint64_t dirs = std::min<std::uint64_t>(u32(&opt[dirs_at - 4]), (optional_size - dirs_at) / 8);

    if (symbols_at != 0) {
        // The symbols, then the string table, whose size counts itself.
        strings_at_ = symbols_at + symbols * 18;
        strings_size_ = std::max<std::uint64_t>(get32(strings_at_), 4);
        hide_in_file(symbols_at, strings_at_ - symbols_at + strings_size_);
    }

    const std::uint64_t table_at = optional_at + optional_size;
    std::vector<unsigned char> table(static_cast<std::size_t>(sections * 40));
    get(table_at, table.data(), table.size());
    hide(table_at, table.size());
    for (std::uint64_t i = 0; i < sections; ++i) {
        const unsigned char* s = &table[i * 40];
        Raw raw{u32(s + 12), u32(s + 16), u32(s + 20)};
        if (raw.size == 0 || raw.offset == 0) continue;  // no bytes in the file
        if (raw.offset > file_.size() || raw.size > file_.size() - raw.offset) throw Broken{};
        const bool code = (u32(s + 36) & (kCode | kExecute)) != 0;
        Section section{{raw.offset, raw.offset + raw.size}, section_name(s), code};
        if (section.name.starts_with(".debug")) hide(raw.offset, raw.size);
        map_.sections.push_back(std::move(section));
        by_va_.push_back(raw);
    }
    std::sort(by_va_.begin(), by_va_.end(), [](const Raw& a, const Raw& b) { return a.va < b.va; });

    auto dir = [&](unsigned i, auto&& walk) {
        if (i >= dirs) return;
        std::uint64_t rva = u32(&opt[dirs_at + i * 8]), size = u32(&opt[dirs_at + i * 8 + 4]);
        if (rva != 0 && size != 0) walk(rva, size);
    };
    dir(0, [&](std::uint64_t rva, std::uint64_t size) { exports(rva, size); });
    dir(1, [&](std::uint64_t rva, std::uint64_t) { imports(rva, 20, 12, 0, 16, false); });
    dir(6, [&](std::uint64_t rva, std::uint64_t size) { debug(rva, size); });
    dir(13, [&](std::uint64_t rva, std::uint64_t) { imports(rva, 32, 4, 16, 12, true); });
    map_.format = ProgramFormat::pe;
    return std::move(map_);
}

}  // namespace

ProgramMap read_pe_map(FileBytes& file) {
    try {
        return PeReader(file).read();
    } catch (const Broken&) {
        return {};
    }
}
