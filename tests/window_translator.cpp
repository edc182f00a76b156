#include "window_translator.h"

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "text_limits.h"

namespace {

constexpr std::int64_t kProgressStep = 100000;

bool is_ascii_alnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Position 0 is the byte written next; positions 1 to 99 are the look-ahead
// in which texts are compared and replaced. With a catalogue's originals
// longer than 97 bytes the window is long enough to hold the longest and
// its zero; it compares at the same offsets as the 100-byte window (the
// last one 99 bytes before the file's end), sliding on past the file's last
// byte, and only the file's own bytes can hold a text and its zero.
struct Window {
    Trans_Tbl* head;
    int relax;
    const MessageSink& progress;
    const HitObserver* observe;
    std::vector<unsigned char> w;
    std::size_t valid = 0;  // positions 1 to valid hold bytes of the file
    std::size_t skip = 0;
    std::int64_t count = 0;  // the offset at position 1

    void compare() {
        for (Trans_Tbl* e = head; e != nullptr; e = e->next) {
            std::size_t len = std::strlen(e->org_name);
            if (len > kLongestCatalogueText || len + 1 > valid) continue;
            if (std::memcmp(w.data() + 1, e->org_name, len + 1) != 0) continue;
            unsigned char before = w[0];
            if (before != 0) {
                if (relax <= 2 && is_ascii_alnum(before)) continue;
                if (relax == 0) continue;
                ++e->n_risc;
            }
            ++e->n_trans;
            if (observe != nullptr) (*observe)(e, count);
            std::memcpy(w.data() + 1, e->new_name, len);
            skip = len;
        }
    }

    // Takes the next byte of the file, or none past its end; returns the
    // byte to write.
    unsigned char step(const char* next) {
        if (++count % kProgressStep == 0) {
            char line[32];
            int n = std::snprintf(line, sizeof line, "%" PRId64 "      \r", count);
            tell(progress, std::string_view(line, static_cast<std::size_t>(n)));
        }
        std::memmove(w.data(), w.data() + 1, w.size() - 1);
        if (next != nullptr) {
            w.back() = static_cast<unsigned char>(*next);
        } else {
            w.back() = 0;
            --valid;
        }
        if (skip != 0) {
            --skip;
        } else {
            compare();
        }
        return w[0];
    }
};

}  // namespace

void window_translate_bytes(Trans_Tbl* head, std::string_view in, int relax, std::string& out,
                            const MessageSink& progress, const HitObserver* observe) {
    out.assign(in);
    if (in.size() < kLookAhead) return;
    std::size_t longest = 0;
    for (const Trans_Tbl* e = head; e != nullptr; e = e->next) {
        longest = std::max(longest, std::min(std::strlen(e->org_name), kLongestCatalogueText));
    }
    Window win{head, relax, progress, observe, std::vector<unsigned char>(std::max(kWindow, longest + 2))};
    win.valid = std::min(win.w.size() - 1, in.size());
    std::memcpy(win.w.data() + 1, in.data(), win.valid);
    std::size_t read = win.valid;
    std::size_t written = 0;
    // Offsets 1 to size - 99 come to position 1 in turn.
    for (std::size_t p = 1; p + kLookAhead <= in.size(); ++p) {
        const char* next = read < in.size() ? &in[read++] : nullptr;
        out[written++] = static_cast<char>(win.step(next));
    }
    std::memcpy(out.data() + written, win.w.data() + 1, in.size() - written);
}
