// Fuzzes the directive reader, the directive check and the UTF-8 cut check:
// the input up to its first zero byte is an original, the rest a translation.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "format_directives.h"
#include "utf8.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

// The directives tile every '%' of the text in order, without overlap.
void check_directives(std::string_view t) {
    std::vector<Directive> ds = format_directives(t);
    std::size_t end = 0;
    std::size_t kept = 0, kept_bytes = 0;
    for (std::size_t k = 0; k < ds.size(); ++k) {
        const Directive& d = ds[k];
        check(d.at >= end && d.size >= 1 && d.size <= t.size() - d.at);
        check(t.find('%', end) == d.at);
        check(d.complete != d.kind.empty());
        check(d.complete || (k + 1 == ds.size() && d.at + d.size == t.size()));
        end = d.at + d.size;
        if (d.kind != "%") {
            ++kept;
            kept_bytes += d.size;
        }
    }
    check(t.find('%', end) == std::string_view::npos);
    check(directive_list(t).size() == (kept == 0 ? 0 : kept_bytes + kept - 1));
    check(compare_directives(t, t).mismatch == DirectiveMismatch::none);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t zero = input.find('\0');
    std::string_view original = input.substr(0, zero);
    std::string_view full = zero == std::string_view::npos ? std::string_view() : input.substr(zero + 1);
    std::string_view cut = full.substr(0, original.size());
    check_directives(original);
    check_directives(full);

    DirectiveCheck r = compare_directives(original, cut);
    std::size_t in_original = format_directives(original).size();
    std::size_t in_cut = format_directives(cut).size();
    check(r.original == kNoDirective || r.original < in_original);
    check(r.translation == kNoDirective || r.translation < in_cut);
    check((r.mismatch == DirectiveMismatch::none) ==
          (r.original == kNoDirective && r.translation == kNoDirective));
    check(r.mismatch != DirectiveMismatch::cut || r.translation + 1 == in_cut);

    // Against a plain reading: a well-formed sequence that starts before the
    // cut and ends after it.
    Utf8Cut u = utf8_cut(full, original.size());
    Utf8Cut want;
    for (std::size_t i = original.size() < 3 ? 0 : original.size() - 3; i < original.size() && i < full.size(); ++i) {
        std::uint32_t cp = 0;
        std::size_t n = utf8_sequence(full, i, cp);
        if (i + n > original.size()) want = {i, n};
    }
    check(u.at == want.at && u.size == want.size);
    return 0;
}
