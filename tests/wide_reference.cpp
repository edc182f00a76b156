#include "wide_reference.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "wide_text.h"

namespace {

std::uint32_t unit(const std::string& f, std::size_t q) {
    return static_cast<unsigned char>(f[q]) | static_cast<unsigned char>(f[q + 1]) << 8;
}

bool letter_or_digit(std::uint32_t u) {
    return (u >= 0x30 && u <= 0x39) || (u >= 0x41 && u <= 0x5A) || (u >= 0x61 && u <= 0x7A);
}

}  // namespace

void wide_reference(Trans_Tbl* head, std::string& f, int relax, const HitObserver* observe) {
    std::vector<std::pair<Trans_Tbl*, WideForm>> forms;
    for (Trans_Tbl* e = head; e != nullptr; e = e->next) {
        WideForm w;
        if (wide_form(original_of(e), full_translation_of(e), w) && !w.original.empty()) forms.emplace_back(e, std::move(w));
    }
    std::size_t p = 2;
    while (p < f.size()) {
        std::size_t next = p + 2;
        for (auto& [e, w] : forms) {
            std::size_t n = w.original.size();
            if (p + n > f.size() || f.compare(p, n, w.original) != 0) continue;
            std::uint32_t before = unit(f, p - 2);
            bool counted = before == n / 2;
            bool terminated = p + n + 2 <= f.size() && unit(f, p + n) == 0;
            bool clean = counted || (terminated && before == 0);
            bool risky = !clean && terminated && (relax > 2 || (relax >= 1 && !letter_or_digit(before)));
            if (!clean && !risky) continue;
            f.replace(p, n, w.translation);
            ++e->n_trans;
            if (risky) ++e->n_risc;
            if (observe != nullptr) (*observe)(e, static_cast<std::int64_t>(p));
            next = p + n + (counted ? 0 : 2);
            break;
        }
        p = next;
    }
}
