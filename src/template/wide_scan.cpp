#include "wide_scan.h"

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "utf16_unit.h"
#include "wide_shapes.h"
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

// The UTF-8 form of the units at at, in text, when it has one of at most
// kLongestOriginal bytes.
bool utf8_form(const unsigned char* at, std::size_t units, std::string& text) {
    text.clear();
    return utf16le_to_utf8(at, units, text) && text.size() <= kLongestOriginal;
}

// Whether the units run units at at are counted texts end to end, as a
// string table's entries stand: first units of text, then a count unit and
// as many units, and so on. "Hello" 09 00 "Open file" (15 units) is with
// first 5: "Hello", the count 9 and "Open file" end at 15. With first 0 the
// run begins with a count. Each count in a run is a text unit, at least 9.
bool counted_chain(const unsigned char* at, std::size_t first, std::size_t units) {
    std::size_t i = first;
    while (i < units) i += 1 + unit_at(at + 2 * i);
    return i == units;
}

ScanStatus scan(std::FILE* file, const ScanVisitor& visit, std::size_t block) {
    std::vector<unsigned char> buf(kWideReach + 2 + block);
    std::string terminated;
    std::string counted;
    std::size_t held = 0;
    std::uint64_t base = 0;  // even
    std::uint64_t p = 2;
    // The walk goes on here after the last text handed: every text handed
    // is in a template, so vorlang seeks no text that begins before this.
    std::uint64_t walk = 0;
    for (;;) {
        std::size_t got = std::fread(buf.data() + held, 1, block, file);
        if (got == 0 && std::ferror(file) != 0) return ScanStatus::read_error;
        held += got;
        const std::uint64_t total = base + held;
        const std::uint64_t until = got == 0 ? total : total > kWideReach ? total - kWideReach : 0;
        for (; p < until && p + 2 <= total; p += 2) {
            if (p < walk) continue;
            const unsigned char* at = buf.data() + (p - base);
            const std::uint16_t before = unit_at(at - 2);
            if (!is_text_unit(unit_at(at))) continue;
            // Whole units that lie in the file from p.
            const auto room = static_cast<std::size_t>((total - p) / 2);
            const std::size_t c = counted_units(before);
            const bool is_counted = c >= 1 && c <= kLongestOriginal && c <= room && text_run(at, c) == c &&
                                    utf8_form(at, c, counted);
            std::size_t n = 0;
            bool is_terminated = false;
            if (terminated_after(before, kRelaxAny) && !is_text_unit(before)) {
                n = text_run(at, std::min(kLongestOriginal + 1, room));
                is_terminated = n < room && n <= kLongestOriginal && unit_at(at + 2 * n) == 0 &&
                                utf8_form(at, n, terminated);
            }
            // One text at p, the one vorlang is to apply there. Where the
            // counted text is the terminated one's prefix, the terminated one
            // is the text (a menu item's after its id word), unless counted
            // texts fill it (string table entries, one count a text unit).
            // A run that a count begins holds counted texts after it.
            bool ok = true;
            if (is_counted && (!is_terminated || counted_chain(at, c, n))) {
                ok = visit(p, counted);
                walk = static_cast<std::uint64_t>(after_counted(static_cast<std::int64_t>(p), c));
            } else if (is_terminated && !counted_chain(at, 0, n)) {
                ok = visit(p, terminated);
                walk = static_cast<std::uint64_t>(after_terminated(static_cast<std::int64_t>(p), n));
            }
            if (!ok) return ScanStatus::stopped;
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
