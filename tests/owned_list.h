// Helpers for the engine's tests: entry lists that free themselves, and a
// sink that collects the engine's messages.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dictionary.h"
#include "message_sink.h"

using OwnedList = EntryList;

inline OwnedList own(Trans_Tbl* head) { return OwnedList(head); }

// The list the dictionary reader makes of text.
inline OwnedList dictionary(const std::string& text) { return read_trans_bytes(text.data(), text.size(), {}).entries; }

// A sink that appends every message to into.
inline MessageSink collect(std::string& into) {
    return [&into](std::string_view text) { into += text; };
}

// Every entry's n_trans, or n_risc, in list order.
inline std::vector<std::int64_t> counts(const Trans_Tbl* head, bool risky) {
    std::vector<std::int64_t> list;
    for (const Trans_Tbl* e = head; e != nullptr; e = e->next) list.push_back(risky ? e->n_risc : e->n_trans);
    return list;
}
