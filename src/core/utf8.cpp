#include "utf8.h"

std::size_t utf8_sequence(std::string_view s, std::size_t i, std::uint32_t& cp) {
    auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 0 : c >= 0xC2 && c <= 0xDF ? 1 : (c & 0xF0) == 0xE0 ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : 4;
    if (n == 4 || i + n >= s.size()) return 0;
    cp = n == 0 ? c : c & (0x3F >> n);
    for (std::size_t k = 1; k <= n; ++k) {
        auto t = static_cast<unsigned char>(s[i + k]);
        if ((t & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (t & 0x3F);
    }
    // The shortest form only, and no surrogate or point beyond U+10FFFF.
    if ((n == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF))) {
        return 0;
    }
    return n + 1;
}

Utf8Cut utf8_cut(std::string_view text, std::size_t cut) {
    if (cut == 0 || cut >= text.size()) return {};
    // A sequence is at most four bytes, so its first byte is at most three
    // before the cut; the nearest byte that is no continuation byte is the
    // only one that can start a sequence reaching past it.
    for (std::size_t back = 1; back <= 3 && back <= cut; ++back) {
        std::size_t at = cut - back;
        if ((static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) continue;
        std::uint32_t cp = 0;
        std::size_t size = utf8_sequence(text, at, cp);
        return size > back ? Utf8Cut{at, size} : Utf8Cut{};
    }
    return {};
}
