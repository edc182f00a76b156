#include "program_sections.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <exception>

#include "section_readers.h"

namespace {

// Sorts the reader's ranges; sections that overlap mean headers that make
// no sense.
ProgramMap tidy(ProgramMap m) {
    std::sort(m.sections.begin(), m.sections.end(),
              [](const Section& a, const Section& b) { return a.range.begin < b.range.begin; });
    for (std::size_t i = 1; i < m.sections.size(); ++i) {
        if (m.sections[i].range.begin < m.sections[i - 1].range.end) return {};
    }
    auto before = [](const FileRange& a, const FileRange& b) { return a.begin < b.begin; };
    if (!std::is_sorted(m.hidden.begin(), m.hidden.end(), before)) std::sort(m.hidden.begin(), m.hidden.end(), before);
    std::vector<FileRange> merged;
    for (const FileRange& r : m.hidden) {
        if (r.begin >= r.end) continue;
        if (!merged.empty() && r.begin <= merged.back().end) {
            merged.back().end = std::max(merged.back().end, r.end);
        } else {
            merged.push_back(r);
        }
    }
    m.hidden = std::move(merged);
    return m;
}

ProgramMap read_map(FileBytes& file) noexcept {
    try {
        unsigned char magic[4];
        if (!file.read(0, magic, sizeof magic)) return {};
        ProgramMap m;
        if (std::memcmp(magic, "\x7F" "ELF", 4) == 0) {
            m = read_elf_map(file);
        } else if (magic[0] == 'M' && magic[1] == 'Z') {
            m = read_pe_map(file);
        }
        return m.format == ProgramFormat::unknown ? ProgramMap{} : tidy(std::move(m));
    } catch (const std::exception&) {  // out of memory: the callers expect no exception
        return {};
    }
}

// The last range that begins at or before offset, or end.
template <typename It, typename Range>
It last_at(It begin, It end, std::uint64_t offset, Range range) {
    It it = std::upper_bound(begin, end, offset,
                             [&](std::uint64_t o, const auto& x) { return o < range(x).begin; });
    if (it == begin) return end;
    --it;
    return offset < range(*it).end ? it : end;
}

}  // namespace

ProgramMap read_program_map(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return {};
    FileBytes file(fd, static_cast<std::uint64_t>(st.st_size));
    return read_map(file);
}

ProgramMap read_program_map(const unsigned char* data, std::uint64_t size) {
    FileBytes file(data, data == nullptr ? 0 : size);
    return read_map(file);
}

bool is_hidden(const ProgramMap& map, std::uint64_t offset) {
    auto end = map.hidden.end();
    return last_at(map.hidden.begin(), end, offset, [](const FileRange& r) { return r; }) != end;
}

const Section* section_at(const ProgramMap& map, std::uint64_t offset) {
    auto end = map.sections.end();
    auto it = last_at(map.sections.begin(), end, offset, [](const Section& s) { return s.range; });
    return it == end ? nullptr : &*it;
}
