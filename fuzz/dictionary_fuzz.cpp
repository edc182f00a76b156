// Fuzzes the dictionary reader and the check on arbitrary bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dictionary.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The reader's and the check's messages are made, but not what is tested here.
    const MessageSink drop = [](std::string_view) {};
    ReadResult r = read_trans_bytes(reinterpret_cast<const char*>(data), size, drop);
    if ((r.entries == nullptr) != (r.status != ReadStatus::ok)) std::abort();
    for (const Trans_Tbl* e = r.entries.get(); e != nullptr; e = e->next) {
        std::size_t org = std::strlen(e->org_name);
        std::size_t cut = std::strlen(e->new_name);
        // The translator copies org bytes of new_name: they must be the
        // translation's start, zero-padded.
        if (org == 0 || org > 97 || cut > org) std::abort();
        if (std::strncmp(e->new_name, e->new_name_full, cut) != 0) std::abort();
        for (std::size_t i = cut; i < org; ++i) {
            if (e->new_name[i] != 0) std::abort();
        }
        if (e->next != nullptr && e->next->prev != e) std::abort();
        if (std::strchr(e->org_name, '"') != nullptr) std::abort();
    }
    if (check_trans(r.entries.get(), drop) < 0) std::abort();
    return 0;
}
