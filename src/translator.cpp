#include "translator.h"

#include <cinttypes>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kWindow = 100;
constexpr std::size_t kLook = kWindow - 1;  // the look-ahead after position 0

bool is_ascii_alnum(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

void show_progress(std::int64_t count) {
    std::printf("%" PRId64 "      \r", count);
    std::fflush(stdout);
}

// Position 0 is the byte written next; positions 1 to 99 are the look-ahead
// in which texts are compared and replaced.
struct Window {
    Trans_Tbl* head;
    int relax;
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
            std::memcpy(w + 1, e->new_name, len);
            skip = len;
        }
    }

    // Takes the next byte of the file; returns the byte to write.
    unsigned char step(unsigned char c) {
        if (++count % kProgressStep == 0) show_progress(count);
        std::memmove(w, w + 1, kLook);
        w[kLook] = c;
        if (skip != 0) {
            --skip;
        } else {
            compare();
        }
        return w[0];
    }
};

}  // namespace

void translate_bytes(Trans_Tbl* head, std::string_view in, int relax, std::string& out) {
    out.assign(in);
    if (in.size() < kLook) return;
    Window win{head, relax};
    std::memcpy(win.w + 1, in.data(), kLook);
    for (std::size_t i = kLook; i < in.size(); ++i) {
        out[i - kLook] = static_cast<char>(win.step(static_cast<unsigned char>(in[i])));
    }
    std::memcpy(out.data() + in.size() - kLook, win.w + 1, kLook);
}

namespace {

// Streams prog through the window into out; returns false on a write error.
bool stream(Trans_Tbl* head, std::FILE* prog, std::FILE* out, int relax) {
    std::vector<unsigned char> in(1 << 16);
    std::vector<unsigned char> copy(in.size());
    std::size_t got = std::fread(in.data(), 1, kLook, prog);
    if (got < kLook) return std::fwrite(in.data(), 1, got, out) == got;
    Window win{head, relax};
    std::memcpy(win.w + 1, in.data(), kLook);
    while ((got = std::fread(in.data(), 1, in.size(), prog)) > 0) {
        for (std::size_t i = 0; i < got; ++i) copy[i] = win.step(in[i]);
        if (std::fwrite(copy.data(), 1, got, out) != got) return false;
    }
    return std::fwrite(win.w + 1, 1, kLook, out) == kLook;
}

}  // namespace

TranslateStatus translate(Trans_Tbl* head, std::FILE* prog, std::FILE* out, int relax) {
    bool written = false;
    bool out_of_memory = false;
    try {
        written = stream(head, prog, out, relax);
    } catch (const std::bad_alloc&) {
        out_of_memory = true;
    }
    bool closed = std::fclose(out) == 0;
    if (out_of_memory) return TranslateStatus::out_of_memory;
    if (std::ferror(prog) != 0) return TranslateStatus::read_error;
    if (!written || !closed) return TranslateStatus::write_error;
    return TranslateStatus::ok;
}
