// Frees a test's entry list when the test ends.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dictionary.h"

using OwnedList = std::unique_ptr<Trans_Tbl, void (*)(Trans_Tbl*)>;

inline OwnedList own(Trans_Tbl* head) { return OwnedList(head, free_trans); }

// The list the dictionary reader makes of text.
inline OwnedList dictionary(const std::string& text) { return own(read_trans_bytes(text.data(), text.size()).head); }

// Every entry's n_trans, or n_risc, in list order.
inline std::vector<std::int64_t> counts(const Trans_Tbl* head, bool risky) {
    std::vector<std::int64_t> list;
    for (const Trans_Tbl* e = head; e != nullptr; e = e->next) list.push_back(risky ? e->n_risc : e->n_trans);
    return list;
}
