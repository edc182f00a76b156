#include "window_translator.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "text_limits.h"

namespace {

constexpr std::int64_t kProgressStep = 100000;

bool is_ascii_alnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Position 0 is the byte written next; positions 1 to 99 are the look-ahead
// in which texts are compared and replaced.
struct Window {
    Trans_Tbl* head;
    int relax;
    const MessageSink& progress;
    const HitObserver* observe;
    unsigned char w[kWindow] = {};
    std::size_t skip = 0;
    std::int64_t count = 0;

    void compare() {
        for (Trans_Tbl* e = head; e != nullptr; e = e->next) {
            std::size_t len = std::strlen(e->org_name);
            if (std::memcmp(w + 1, e->org_name, len + 1) != 0) continue;
            unsigned char before = w[0];
            if (before != 0) {
                if (relax <= 2 && is_ascii_alnum(before)) continue;
                if (relax == 0) continue;
                ++e->n_risc;
            }
            ++e->n_trans;
            // Position 1 holds the byte at offset count: 99 bytes fill the window first.
            if (observe != nullptr) (*observe)(e, count);
            std::memcpy(w + 1, e->new_name, len);
            skip = len;
        }
    }

    // Takes the next byte of the file; returns the byte to write.
    unsigned char step(unsigned char c) {
        if (++count % kProgressStep == 0) {
            char line[32];
            int n = std::snprintf(line, sizeof line, "%" PRId64 "      \r", count);
            tell(progress, std::string_view(line, static_cast<std::size_t>(n)));
        }
        std::memmove(w, w + 1, kLookAhead);
        w[kLookAhead] = c;
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
    Window win{head, relax, progress, observe};
    std::memcpy(win.w + 1, in.data(), kLookAhead);
    for (std::size_t i = kLookAhead; i < in.size(); ++i) {
        out[i - kLookAhead] = static_cast<char>(win.step(static_cast<unsigned char>(in[i])));
    }
    std::memcpy(out.data() + in.size() - kLookAhead, win.w + 1, kLookAhead);
}
