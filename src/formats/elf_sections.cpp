// The ELF reader: the section headers, and as hidden the sections that hold
// the names the program links by, its symbols, notes, build comments and
// debug data.
//
// The headers are read here, each count, offset and size checked against
// the file before anything is allocated for it; libelf turns each header
// from the file's byte order and class into the host's. libelf's own walk
// is not used: it allocates for every section the headers claim before a
// count can be checked, and gives names by reading the whole string table.
#include <gelf.h>
#include <libelf.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "section_readers.h"

namespace {

// Longer names match none of the hidden ones and are cut here, which bounds
// the bytes read and kept for each name.
constexpr std::size_t kLongestName = 256;

// A linked program has a few dozen sections, an object built with one
// section per function some tens of thousands. Past this many section
// headers the map is unknown: what the sections take in memory (their
// entries and names, a few tens of MiB at most) stays bounded whatever
// count the headers claim.
constexpr std::uint64_t kMostSections = 1 << 16;

// The section names lie together, in a few KiB; a window no larger keeps
// names crafted to lie far apart from costing a large read each.
constexpr std::size_t kNamesWindow = 4096;

// The names the program links by, its symbols, notes, build comments and
// debug data (compressed too), and the names of its separate debug files.
bool hidden_name(std::string_view name) {
    static constexpr std::string_view whole[] = {".dynstr", ".dynsym", ".symtab", ".strtab", ".shstrtab", ".comment",
                                                 ".interp", ".gnu_debuglink", ".gnu_debugaltlink", ".gnu_debugdata"};
    static constexpr std::string_view start[] = {".gnu.version", ".note", ".debug_", ".zdebug_"};
    for (std::string_view w : whole) {
        if (name == w) return true;
    }
    for (std::string_view s : start) {
        if (name.starts_with(s)) return true;
    }
    return false;
}

// The header types of one class, and libelf's conversion of them.
struct Class32 {
    using Ehdr = Elf32_Ehdr;
    using Shdr = Elf32_Shdr;
    static Elf_Data* to_host(Elf_Data* out, const Elf_Data* in, unsigned order) {
        return elf32_xlatetom(out, in, order);
    }
};
struct Class64 {
    using Ehdr = Elf64_Ehdr;
    using Shdr = Elf64_Shdr;
    static Elf_Data* to_host(Elf_Data* out, const Elf_Data* in, unsigned order) {
        return elf64_xlatetom(out, in, order);
    }
};

template <typename C>
class ElfReader {
public:
    using Shdr = typename C::Shdr;

    // names: a second window over the same bytes, so that reading the names
    // does not move the window over the section table.
    ElfReader(FileBytes& file, FileBytes& names, unsigned order) : file_(file), names_(names), order_(order) {}

    ProgramMap read() {
        typename C::Ehdr eh;
        Shdr first;
        if (!get(0, ELF_T_EHDR, eh) || eh.e_shoff == 0 || eh.e_shentsize != sizeof(Shdr) ||
            !get(eh.e_shoff, ELF_T_SHDR, first)) {
            return {};
        }
        // Counts too large for the ELF header stand in section 0.
        const std::uint64_t count = eh.e_shnum != 0 ? eh.e_shnum : first.sh_size;
        if (eh.e_shstrndx >= SHN_LORESERVE && eh.e_shstrndx != SHN_XINDEX) return {};
        const std::uint64_t names = eh.e_shstrndx == SHN_XINDEX ? first.sh_link : eh.e_shstrndx;
        // The first read put e_shoff within the file; the whole table must fit.
        if (count == 0 || count > kMostSections || count > (file_.size() - eh.e_shoff) / sizeof(Shdr) ||
            names == 0 || names >= count || !get(eh.e_shoff + names * sizeof(Shdr), ELF_T_SHDR, strings_) ||
            strings_.sh_type != SHT_STRTAB || (strings_.sh_flags & SHF_COMPRESSED) != 0 || !in_file(strings_)) {
            return {};
        }
        ProgramMap map;
        map.format = ProgramFormat::elf;
        for (std::uint64_t i = 1; i < count; ++i) {
            Shdr sh;
            if (!get(eh.e_shoff + i * sizeof(Shdr), ELF_T_SHDR, sh)) return {};
            if (sh.sh_type == SHT_NULL || sh.sh_type == SHT_NOBITS || sh.sh_size == 0) continue;
            if (!in_file(sh)) return {};
            Section s{{sh.sh_offset, sh.sh_offset + sh.sh_size}, {}, (sh.sh_flags & SHF_EXECINSTR) != 0};
            if (!name(sh.sh_name, s.name)) return {};
            if (hidden_name(s.name)) map.hidden.push_back(s.range);
            map.sections.push_back(std::move(s));
        }
        return map;
    }

private:
    FileBytes& file_;
    FileBytes& names_;
    unsigned order_;  // ELFDATA2LSB or ELFDATA2MSB
    Shdr strings_{};  // the section that holds the section names

    // The header of type T at offset, in the host's byte order.
    template <typename T>
    bool get(std::uint64_t offset, Elf_Type type, T& out) {
        T raw;
        if (!file_.read(offset, &raw, sizeof raw)) return false;
        Elf_Data in{};
        in.d_buf = &raw;
        in.d_type = type;
        in.d_version = EV_CURRENT;
        in.d_size = sizeof raw;
        Elf_Data to = in;
        to.d_buf = &out;
        return C::to_host(&to, &in, order_) != nullptr;
    }

    bool in_file(const Shdr& sh) const {
        return sh.sh_offset <= file_.size() && sh.sh_size <= file_.size() - sh.sh_offset;
    }

    // The name at offset in the section names, cut at kLongestName; false
    // when it starts outside them or they end before its zero byte.
    bool name(std::uint64_t offset, std::string& out) {
        if (offset >= strings_.sh_size) return false;
        char bytes[kLongestName];
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kLongestName, strings_.sh_size - offset));
        if (!names_.read(strings_.sh_offset + offset, bytes, n)) return false;
        const std::size_t length = ::strnlen(bytes, n);
        if (length == n && n < kLongestName) return false;
        out.assign(bytes, length);
        return true;
    }
};

}  // namespace

ProgramMap read_elf_map(FileBytes& file) {
    if (elf_version(EV_CURRENT) == EV_NONE) return {};
    unsigned char ident[EI_NIDENT];
    if (!file.read(0, ident, sizeof ident) || ident[EI_VERSION] != EV_CURRENT) return {};
    const unsigned order = ident[EI_DATA];
    if (order != ELFDATA2LSB && order != ELFDATA2MSB) return {};
    FileBytes names = file.data() != nullptr ? FileBytes(file.data(), file.size())
                                             : FileBytes(file.fd(), file.size(), kNamesWindow);
    switch (ident[EI_CLASS]) {
        case ELFCLASS32:
            return ElfReader<Class32>(file, names, order).read();
        case ELFCLASS64:
            return ElfReader<Class64>(file, names, order).read();
        default:
            return {};
    }
}
