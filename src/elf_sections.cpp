// The ELF reader: the section headers through libelf, and as hidden the
// sections that hold the names the program links by, its symbols, notes,
// build comments and debug data.
#include <gelf.h>
#include <libelf.h>

#include <cstring>
#include <memory>
#include <string_view>

#include "section_readers.h"

namespace {

// Longer names match none of the hidden ones; the cut bounds the memory that
// many sections naming one long string could take.
constexpr std::size_t kLongestName = 256;

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

struct ElfEnd {
    void operator()(Elf* e) const { elf_end(e); }
};

}  // namespace

ProgramMap read_elf_map(FileBytes& file) {
    if (elf_version(EV_CURRENT) == EV_NONE) return {};
    // libelf may convert section data in place, and the caller's bytes are
    // read-only: it gets a copy.
    std::vector<char> copy;
    std::unique_ptr<Elf, ElfEnd> elf;
    if (file.data() != nullptr) {
        copy.assign(file.data(), file.data() + file.size());
        elf.reset(elf_memory(copy.data(), copy.size()));
    } else {
        elf.reset(elf_begin(file.fd(), ELF_C_READ, nullptr));  // reads by pread, never maps the file
    }
    std::size_t count = 0;
    std::size_t names = 0;
    if (!elf || elf_kind(elf.get()) != ELF_K_ELF || elf_getshdrnum(elf.get(), &count) != 0 || count == 0 ||
        elf_getshdrstrndx(elf.get(), &names) != 0) {
        return {};
    }
    ProgramMap map;
    map.format = ProgramFormat::elf;
    for (Elf_Scn* scn = elf_nextscn(elf.get(), nullptr); scn != nullptr; scn = elf_nextscn(elf.get(), scn)) {
        GElf_Shdr sh;
        if (gelf_getshdr(scn, &sh) == nullptr) return {};
        if (sh.sh_type == SHT_NULL || sh.sh_type == SHT_NOBITS || sh.sh_size == 0) continue;
        if (sh.sh_offset > file.size() || sh.sh_size > file.size() - sh.sh_offset) return {};
        const char* name = elf_strptr(elf.get(), names, sh.sh_name);
        if (name == nullptr) return {};
        Section s{{sh.sh_offset, sh.sh_offset + sh.sh_size}, std::string(name, ::strnlen(name, kLongestName)),
                  (sh.sh_flags & SHF_EXECINSTR) != 0};
        if (hidden_name(s.name)) map.hidden.push_back(s.range);
        map.sections.push_back(std::move(s));
    }
    return map;
}
