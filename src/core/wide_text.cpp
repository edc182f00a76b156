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

bool wide_form(std::string_view original, std::string_view translation, WideForm& form) {
    WideForm f;
    if (!utf8_to_utf16le(original, f.original) || !utf8_to_utf16le(translation, f.translation)) {
        return false;
    }
    std::size_t units = f.original.size() / 2;
    if (f.translation.size() > 2 * units) {
        f.translation.resize(2 * units);
        // A high surrogate whose low half was cut off is dropped as well.
        if (units != 0 && is_high_surrogate(unit_at(reinterpret_cast<const unsigned char*>(f.translation.data()) +
                                                    2 * (units - 1)))) {
            f.translation.resize(2 * (units - 1));
        }
    }
    while (f.translation.size() < f.original.size()) put_unit(f.translation, ' ');
    form = std::move(f);
    return true;
}

bool has_wide_form(std::string_view original, std::string_view translation) {
    WideForm unused;
    return wide_form(original, translation, unused);
}
