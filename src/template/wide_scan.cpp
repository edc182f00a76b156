#include "wide_scan.h"

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "utf16_unit.h"
#include "wide_text.h"

namespace {

bool is_surrogate(std::uint16_t u) { return u >= 0xD800 && u <= 0xDFFF; }

bool is_printable_ascii(unsigned c) { return c >= 0x20 && c <= 0x7E; }

// Surrogates count as text units here; utf16le_to_utf8 refuses the
// unpaired ones. A unit of two printable ASCII bytes is taken for two
// characters of a byte text read as one unit: otherwise every byte text at
// an even offset would be listed as a text of CJK characters.
bool is_text_unit(std::uint16_t u) {
    if (u >= 0x100) return !(is_printable_ascii(u & 0xFFu) && is_printable_ascii(u >> 8u)) || is_surrogate(u);
    return is_printable_ascii(u) || u == '\t' || u == '\n' || u == '\r' || u >= 0xA0;
}

// How many text units begin the limit units at at.
std::size_t text_run(const unsigned char* at, std::size_t limit) {
    std::size_t n = 0;
    while (n < limit && is_text_unit(unit_at(at + 2 * n))) ++n;
    return n;
}

bool hand(const ScanVisitor& visit, std::uint64_t p, const unsigned char* at, std::size_t units, std::string& text) {
    text.clear();
    if (!utf16le_to_utf8(at, units, text) || text.size() > kLongestOriginal) return true;
    return visit(p, text);
}

ScanStatus scan(std::FILE* file, const ScanVisitor& visit, std::size_t block) {
    std::vector<unsigned char> buf(kWideReach + 2 + block);
    std::string text;
    std::string counted;
    std::size_t held = 0;
    std::uint64_t base = 0;  // even
    std::uint64_t p = 2;
    for (;;) {
        std::size_t got = std::fread(buf.data() + held, 1, block, file);
        if (got == 0 && std::ferror(file) != 0) return ScanStatus::read_error;
        held += got;
        const std::uint64_t total = base + held;
        const std::uint64_t until = got == 0 ? total : total > kWideReach ? total - kWideReach : 0;
        for (; p < until && p + 2 <= total; p += 2) {
            const unsigned char* at = buf.data() + (p - base);
            const std::uint16_t before = unit_at(at - 2);
            if (!is_text_unit(unit_at(at))) continue;
            // Whole units that lie in the file from p.
            const auto room = static_cast<std::size_t>((total - p) / 2);
            counted.clear();
            if (before >= 1 && before <= kLongestOriginal && before <= room && text_run(at, before) == before) {
                if (!hand(visit, p, at, before, counted)) return ScanStatus::stopped;
            }
            if (is_text_unit(before)) continue;
            std::size_t n = text_run(at, std::min(kLongestOriginal + 1, room));
            if (n == room || n > kLongestOriginal || unit_at(at + 2 * n) != 0) continue;
            if (n == before && !counted.empty()) continue;  // handed as counted
            if (!hand(visit, p, at, n, text)) return ScanStatus::stopped;
        }
        if (got == 0) return ScanStatus::ok;
        const std::size_t keep_from = static_cast<std::size_t>(p - 2 - base);
        std::memmove(buf.data(), buf.data() + keep_from, held - keep_from);
        held -= keep_from;
        base = p - 2;
    }
}

}  // namespace

ScanStatus scan_wide_strings(std::FILE* file, const ScanVisitor& visit, std::size_t block) {
    if (block == 0) block = 1;
    try {
        return scan(file, visit, block);
    } catch (const std::bad_alloc&) {
        return ScanStatus::out_of_memory;
    }
}
