#include "wide_text.h"

#include <cstring>
#include <utility>

#include "utf16_unit.h"
#include "utf8.h"

namespace {

void put_unit(std::string& out, std::uint32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
}

bool is_high_surrogate(std::uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(std::uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Whether the eight bytes from s[i] are there and all ASCII: dictionaries
// are mostly ASCII, and such a run is taken at once.
bool eight_ascii(std::string_view s, std::size_t i) {
    if (i + 8 > s.size()) return false;
    std::uint64_t eight;
    std::memcpy(&eight, s.data() + i, 8);
    return (eight & 0x8080808080808080ULL) == 0;
}

}  // namespace

bool utf8_to_utf16le(std::string_view s, std::string& out) {
    // Written in place: every UTF-8 byte gives at most two bytes of UTF-16.
    std::size_t start = out.size();
    out.resize(start + 2 * s.size());
    char* const first = out.data() + start;
    char* w = first;
    auto put = [&w](std::uint32_t u) {
        *w++ = static_cast<char>(u & 0xFF);
        *w++ = static_cast<char>(u >> 8);
    };
    bool ok = true;
    std::uint32_t cp = 0;
    for (std::size_t i = 0, n = 0; i < s.size(); i += n) {
        // "FileQuit" gives 46 00 69 00 ... 74 00 in one step.
        if (eight_ascii(s, i)) {
            for (std::size_t k = 0; k < 8; ++k) {
                w[2 * k] = s[i + k];
                w[2 * k + 1] = 0;
            }
            w += 16;
            n = 8;
            continue;
        }
        n = static_cast<unsigned char>(s[i]) < 0x80 ? 1 : utf8_sequence(s, i, cp);
        if (n == 0) {
            ok = false;
            break;
        }
        if (n == 1) cp = static_cast<unsigned char>(s[i]);
        if (cp >= 0x10000) {
            put(0xD800 + ((cp - 0x10000) >> 10));
            put(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            put(cp);
        }
    }
    out.resize(start + static_cast<std::size_t>(w - first));
    return ok;
}

bool is_utf8(std::string_view s) {
    std::uint32_t cp = 0;
    for (std::size_t i = 0, n = 0; i < s.size(); i += n) {
        if (eight_ascii(s, i)) {
            n = 8;
            continue;
        }
        n = static_cast<unsigned char>(s[i]) < 0x80 ? 1 : utf8_sequence(s, i, cp);
        if (n == 0) return false;
    }
    return true;
}

bool utf16le_to_utf8(const unsigned char* units, std::size_t count, std::string& out) {
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t cp = unit_at(units + 2 * i);
        if (is_low_surrogate(cp)) return false;
        if (is_high_surrogate(cp)) {
            if (i + 1 == count || !is_low_surrogate(unit_at(units + 2 * i + 2))) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (unit_at(units + 2 * i + 2) - 0xDC00);
            ++i;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | cp >> 6);
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | cp >> 12);
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | cp >> 18);
            out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return true;
}

bool append_wide_form(std::string_view original, std::string_view translation, std::string& out) {
    const std::size_t start = out.size();
    if (!utf8_to_utf16le(original, out)) {
        out.resize(start);
        return false;
    }
    const std::size_t len = out.size() - start;
    if (!utf8_to_utf16le(translation, out)) {
        out.resize(start);
        return false;
    }
    std::size_t kept = out.size() - start - len;
    if (kept > len) {
        kept = len;
        // A high surrogate whose low half was cut off is dropped as well.
        const auto* units = reinterpret_cast<const unsigned char*>(out.data() + start + len);
        if (kept != 0 && is_high_surrogate(unit_at(units + kept - 2))) kept -= 2;
    }
    out.resize(start + len + kept);
    while (kept < len) {
        put_unit(out, ' ');
        kept += 2;
    }
    return true;
}

bool wide_form(std::string_view original, std::string_view translation, WideForm& form) {
    std::string both;
    if (!append_wide_form(original, translation, both)) return false;
    const std::size_t len = both.size() / 2;
    form.original.assign(both, 0, len);
    form.translation.assign(both, len, len);
    return true;
}

bool has_wide_form(std::string_view original, std::string_view translation) {
    return is_utf8(original) && is_utf8(translation);
}
