// The PE section map, from the image's headers (see pe_image.h): the
// sections, and as hidden the names the program imports and exports by, its
// import sections, its debug directory and data, its COFF symbols and the
// section table itself.
//
// The walk reads in runs that move forward, for the file's blocks to be read
// once each however the headers point around (see FileBytes): the
// directories first, each in order, keeping the lookup tables and names they
// point to; then those tables sorted by offset, keeping more names; then the
// names sorted by offset. E.g. import descriptors at 0x1000 naming tables at
// 0x90000 and 0x400 are read at 0x1000, 0x1014, 0x1028 (the zero entry),
// then the tables at 0x400 and 0x90000, rather than back and forth.
#include <algorithm>
#include <cassert>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "pe_image.h"
#include "section_readers.h"

namespace {

// Units of work: table entries walked and name bytes read, and 16 for each
// table or name kept for later. A crafted file can make many entries share a
// table or name (read once) or name overlapping ones (read each time); past
// this budget it gets the unknown map.
constexpr std::uint64_t kBudget = 1 << 25;
// A name is hidden up to here; the rest of a longer one follows no zero
// byte, so no scan for texts starts in it.
constexpr std::uint64_t kLongestName = 4096;
constexpr std::uint64_t kLongestSectionName = 256;
// Section flags: holds code, may be executed.
constexpr std::uint32_t kCode = 0x20;
constexpr std::uint32_t kExecute = 0x20000000;

// Headers that make no sense; caught in read_pe_map.
struct Broken {};

// Sorts v by key and drops the repeats. The names are often in order
// already (those of the exports, sorted, stand in that order).
template <typename T, typename Key>
void sort_unique(std::vector<T>& v, Key key) {
    auto less = [&](const T& a, const T& b) { return key(a) < key(b); };
    if (!std::is_sorted(v.begin(), v.end(), less)) std::sort(v.begin(), v.end(), less);
    v.erase(std::unique(v.begin(), v.end(), [&](const T& a, const T& b) { return key(a) == key(b); }), v.end());
}

class PeReader {
public:
    PeReader(FileBytes& file, const PeImage& image) : file_(file), image_(image), plus_(image.plus) {}
    ProgramMap read();

private:
    // A name after lead bytes (a hint), or a lookup table.
    struct Name {
        PeSpan w;
        std::uint32_t lead;
    };
    struct Table {
        PeSpan w;
        std::uint32_t by_address;  // entries are addresses, not RVAs
    };

    FileBytes& file_;
    const PeImage& image_;
    const bool plus_;  // PE32+: 8-byte thunks
    ProgramMap map_;
    std::uint64_t work_ = 0;
    std::vector<Table> tables_;  // to walk
    std::vector<Name> names_;    // to hide

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
        return le32(b);
    }
    std::uint64_t get64(std::uint64_t offset) {
        unsigned char b[8];
        get(offset, b, 8);
        return le64(b);
    }
    // The caller has checked that the range lies within the file.
    void hide(std::uint64_t offset, std::uint64_t size) { map_.hidden.push_back({offset, offset + size}); }
    void hide_in_file(std::uint64_t offset, std::uint64_t size) {
        if (offset > file_.size() || size > file_.size() - offset) throw Broken{};
        hide(offset, size);
    }

    PeSpan at(std::uint64_t rva, std::uint64_t size);
    std::uint64_t name_size(std::uint64_t offset, std::uint64_t room, std::uint64_t longest);
    void keep_name(std::uint64_t rva, std::uint32_t lead);
    void sections();
    void imports(std::uint64_t rva, unsigned entry, unsigned name_field, unsigned table_field, bool delay);
    void lookup_table(const Table& t);
    void exports(std::uint64_t rva, std::uint64_t size);
    void debug(std::uint64_t rva, std::uint64_t size);
};

// Where [rva, rva + size) lies in the file; headers that make no sense when
// it lies nowhere.
PeSpan PeReader::at(std::uint64_t rva, std::uint64_t size) {
    std::optional<PeSpan> span = image_.span(rva, size);
    if (!span) throw Broken{};
    return *span;
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

// Keeps the zero-terminated name at rva, after lead bytes (a hint), to hide.
void PeReader::keep_name(std::uint64_t rva, std::uint32_t lead) {
    charge(16);  // bounds the names kept
    names_.push_back({at(rva, lead), lead});
}

// The sections with bytes in the file. A name of the form "/123" stands at
// that offset in the COFF string table; those are read in order of offset.
// The import sections are hidden whole: they hold names outside the
// directories walked here (of delay-load imports, or that no descriptor
// points to).
void PeReader::sections() {
    hide(image_.section_table.begin, image_.section_table.end - image_.section_table.begin);
    const FileRange strings = image_.string_table;
    std::vector<std::pair<std::uint64_t, std::size_t>> long_names;  // offset, section
    for (const PeSection& s : image_.sections) {
        if (!s.has_bytes()) continue;
        const bool code = (s.characteristics & (kCode | kExecute)) != 0;
        const std::string& name = s.name;
        if (name.size() >= 2 && name[0] == '/' && strings.end != strings.begin &&
            name.find_first_not_of("0123456789", 1) == std::string::npos) {
            std::uint64_t offset = std::stoull(name.substr(1));  // at most 7 digits
            if (offset >= strings.end - strings.begin) throw Broken{};
            long_names.emplace_back(offset, map_.sections.size());
        }
        map_.sections.push_back({{s.raw_offset, std::uint64_t{s.raw_offset} + s.raw_size}, name, code});
    }
    std::sort(long_names.begin(), long_names.end());
    for (auto [offset, i] : long_names) {
        std::string& name = map_.sections[i].name;
        std::uint64_t size = name_size(strings.begin + offset, strings.end - strings.begin - offset, kLongestSectionName);
        name.resize(static_cast<std::size_t>(size));
        get(strings.begin + offset, name.data(), name.size());
        name.resize(::strnlen(name.data(), name.size()));
    }
    for (const Section& s : map_.sections) {
        if (s.name.starts_with(".debug") || s.name == ".idata" || s.name == ".didat") {
            hide(s.range.begin, s.range.end - s.range.begin);
        }
    }
}

// Walks an import descriptor array up to its all-zero entry. Each entry is
// entry bytes, with the DLL name's RVA at name_field and the lookup table's
// at table_field. A plain entry without a lookup table has its address table
// (at 16) name the imports until they are bound; a delay-load one's address
// table points into the code. Delay-load entries begin with attributes whose
// bit 0 clear means the fields are addresses (old linkers wrote those).
void PeReader::imports(std::uint64_t rva, unsigned entry, unsigned name_field, unsigned table_field, bool delay) {
    PeSpan w = at(rva, entry);
    for (std::uint64_t i = 0;; i += entry) {
        charge(1);
        if (entry > w.room - i) throw Broken{};  // no end before the end of its section
        unsigned char d[32];
        get(w.offset + i, d, entry);
        if (std::all_of(d, d + entry, [](unsigned char c) { return c == 0; })) {
            hide(w.offset, i + entry);
            return;
        }
        const bool by_address = delay && (d[0] & 1) == 0;
        const std::uint64_t base = by_address ? image_.image_base : 0;
        if (std::uint32_t name = le32(d + name_field); name != 0) {
            if (name < base) throw Broken{};
            keep_name(name - base, 0);
        }
        std::uint32_t table = le32(d + table_field);
        if (table == 0 && !delay) table = le32(d + 16);
        if (table != 0) {
            if (table < base) throw Broken{};
            charge(16);  // bounds the tables kept
            tables_.push_back({at(table - base, plus_ ? 8 : 4), by_address});
        }
    }
}

// Hides a lookup table up to its zero entry, and keeps the hint/name entry
// of each import by name (an import by ordinal has the top bit set).
void PeReader::lookup_table(const Table& t) {
    const unsigned width = plus_ ? 8 : 4;
    const std::uint64_t base = t.by_address ? image_.image_base : 0;
    for (std::uint64_t i = 0;; i += width) {
        charge(1);
        if (width > t.w.room - i) throw Broken{};
        std::uint64_t e = plus_ ? get64(t.w.offset + i) : get32(t.w.offset + i);
        if (e == 0) {
            hide(t.w.offset, i + width);
            return;
        }
        if (e >> (width * 8 - 1) != 0) continue;
        if (e < base) throw Broken{};
        keep_name(e - base, 2);
    }
}

// The whole directory, and the DLL name and the exported names wherever
// they stand.
void PeReader::exports(std::uint64_t rva, std::uint64_t size) {
    PeSpan w = at(rva, std::max<std::uint64_t>(size, 40));
    hide(w.offset, size);
    unsigned char d[40];
    get(w.offset, d, sizeof d);
    if (le32(d + 12) != 0) keep_name(le32(d + 12), 0);
    std::uint64_t count = le32(d + 24);
    if (count == 0) return;
    PeSpan names = at(le32(d + 32), count * 4);
    for (std::uint64_t i = 0; i < count; ++i) {
        charge(1);
        keep_name(get32(names.offset + i * 4), 0);
    }
}

// The 28-byte entries, and the data each points to by file offset (e.g.
// the path of the debug file).
void PeReader::debug(std::uint64_t rva, std::uint64_t size) {
    PeSpan w = at(rva, size);
    hide(w.offset, size);
    for (std::uint64_t i = 0; i + 28 <= size; i += 28) {
        charge(1);
        std::uint32_t data_size = get32(w.offset + i + 16), data_at = get32(w.offset + i + 24);
        if (data_size != 0 && data_at != 0) hide_in_file(data_at, data_size);
    }
}

ProgramMap PeReader::read() {
    // The symbols, then the string table.
    if (image_.symbols_offset != 0) hide(image_.symbols_offset, image_.string_table.end - image_.symbols_offset);

    sections();

    auto dir = [&](PeDirectoryIndex i, auto&& walk) {
        PeDirectory d = image_.directory(i);
        if (d.rva != 0 && d.size != 0) walk(d.rva, d.size);
    };
    using Index = PeDirectoryIndex;
    dir(Index::exports, [&](std::uint64_t rva, std::uint64_t size) { exports(rva, size); });
    dir(Index::imports, [&](std::uint64_t rva, std::uint64_t) { imports(rva, 20, 12, 0, false); });
    dir(Index::debug, [&](std::uint64_t rva, std::uint64_t size) { debug(rva, size); });
    dir(Index::delay_imports, [&](std::uint64_t rva, std::uint64_t) { imports(rva, 32, 4, 16, true); });

    // Each table and name once, in order of offset (a table read both as
    // RVAs and as addresses is walked both ways).
    sort_unique(tables_, [](const Table& t) { return std::pair(t.w.offset, t.by_address); });
    for (const Table& t : tables_) lookup_table(t);
    sort_unique(names_, [](const Name& n) { return std::pair(n.w.offset, n.lead); });
    for (const Name& n : names_) {
        assert(&n == names_.data() || (&n)[-1].w.offset <= n.w.offset);  // the reads move forward
        hide(n.w.offset, n.lead + name_size(n.w.offset + n.lead, n.w.room - n.lead, kLongestName));
    }
    map_.format = ProgramFormat::pe;
    return std::move(map_);
}

}  // namespace

ProgramMap read_pe_map(FileBytes& file) {
    std::optional<PeImage> image = read_pe_image(file);
    if (!image) return {};
    try {
        return PeReader(file, *image).read();
    } catch (const Broken&) {
        return {};
    }
}
