// Fuzzes the section map on arbitrary bytes: it must never crash, and the
// map must keep its promises.
#include <cstdint>
#include <cstdlib>

#include "program_sections.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ProgramMap m = read_program_map(data, size);
    if (m.format == ProgramFormat::unknown && (!m.sections.empty() || !m.hidden.empty())) std::abort();
    std::uint64_t last = 0;
    for (const Section& s : m.sections) {
        if (s.range.begin < last || s.range.begin >= s.range.end || s.range.end > size) std::abort();
        if (section_at(m, s.range.begin) != &s || section_at(m, s.range.end - 1) != &s) std::abort();
        last = s.range.end;
    }
    for (std::size_t i = 0; i < m.hidden.size(); ++i) {
        const FileRange& r = m.hidden[i];
        if ((i > 0 && r.begin <= m.hidden[i - 1].end) || r.begin >= r.end || r.end > size) std::abort();
        if (!is_hidden(m, r.begin) || !is_hidden(m, r.end - 1) || is_hidden(m, r.end)) std::abort();
    }
    return 0;
}
