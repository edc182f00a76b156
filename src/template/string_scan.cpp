#include "string_scan.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

ScanStatus scan(std::FILE* file, const ScanVisitor& visit, std::size_t block) {
    // buf[0, held) holds the file's bytes from offset base on; what is kept
    // between reads is at most the look-ahead, from the byte before the next
    // position on.
    std::vector<unsigned char> buf(kLookAhead + block);
    std::size_t held = 0;
    std::uint64_t base = 0;
    std::uint64_t next = 1;  // the next position to examine; offset 0 never is
    for (;;) {
        std::size_t got = std::fread(buf.data() + held, 1, block, file);
        if (got == 0) return std::ferror(file) != 0 ? ScanStatus::read_error : ScanStatus::ok;
        held += got;
        const std::uint64_t total = base + held;
        const unsigned char* at = buf.data();
        while (next + kLookAhead <= total) {
            const std::uint64_t last = total - kLookAhead;
            // The next 0 byte that stands before an examinable position.
            const void* zero = std::memchr(at + (next - 1 - base), 0, last - next + 1);
            if (zero == nullptr) {
                next = last + 1;
                break;
            }
            // A run of 0 bytes holds only empty texts: the next text can
            // begin only at the first byte after it.
            const unsigned char* text = static_cast<const unsigned char*>(zero) + 1;
            const unsigned char* stop = at + (last - base) + 1;
            while (text != stop && *text == 0) ++text;
            if (text == stop) {
                next = last + 1;
                break;
            }
            const std::uint64_t p = base + static_cast<std::uint64_t>(text - at);
            // p + 97 < total, so the text and its end lie in the buffer.
            const void* end = std::memchr(text, 0, kLongestOriginal + 1);
            if (end == nullptr) {
                next = p + kLongestOriginal + 1;
                continue;
            }
            const std::size_t size = static_cast<std::size_t>(static_cast<const unsigned char*>(end) - text);
            if (!visit(p, std::string_view(reinterpret_cast<const char*>(text), size))) return ScanStatus::stopped;
            next = p + size + 1;
        }
        const std::size_t keep_from = static_cast<std::size_t>(next - 1 - base);
        std::memmove(buf.data(), buf.data() + keep_from, held - keep_from);
        held -= keep_from;
        base = next - 1;
    }
}

}  // namespace

ScanStatus scan_strings(std::FILE* file, const ScanVisitor& visit, std::size_t block) {
    if (block == 0) block = 1;
    try {
        return scan(file, visit, block);
    } catch (const std::bad_alloc&) {
        return ScanStatus::out_of_memory;
    }
}
