// Fuzzes the PO catalogue reader and the check on arbitrary bytes: the
// entries it gives must be what the translator relies on, each with its
// line, and a failure must be one line that says where.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "po_catalogue.h"
#include "text_limits.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const MessageSink drop = [](std::string_view) {};
    DictionaryLayout layout;
    ReadResult r = read_po_bytes(reinterpret_cast<const char*>(data), size, "f.po", drop, &layout);
    if ((r.entries == nullptr) != (r.status != ReadStatus::ok)) std::abort();
    if (r.status == ReadStatus::bad_format && (!r.error.starts_with("f.po:") || r.error.find('\n') != std::string::npos)) {
        std::abort();
    }
    std::size_t count = 0;
    for (const Trans_Tbl* e = r.entries.get(); e != nullptr; e = e->next, ++count) {
        const std::size_t org = std::strlen(e->org_name);
        const std::size_t full = std::strlen(e->new_name_full);
        const std::size_t cut = std::strlen(e->new_name);
        if (org == 0 || org > kLongestCatalogueText || full == 0 || full > kLongestCatalogueText) std::abort();
        // The translator copies org bytes of new_name: the translation's
        // start, zero-padded.
        if (cut != std::min(org, full) || std::strncmp(e->new_name, e->new_name_full, cut) != 0) std::abort();
        for (std::size_t i = cut; i < org; ++i) {
            if (e->new_name[i] != 0) std::abort();
        }
        if (e->next != nullptr && e->next->prev != e) std::abort();
        // Every entry stands at a line of the catalogue.
        if (count >= layout.entry_line.size() || layout.entry_line[count] == 0) std::abort();
    }
    if (count != layout.entry_line.size() && r.status == ReadStatus::ok) std::abort();
    if (check_trans(r.entries.get(), drop) < 0) std::abort();
    return 0;
}
