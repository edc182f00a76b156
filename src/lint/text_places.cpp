#include "text_places.h"

#include <algorithm>
#include <new>
#include <unordered_map>

#include "translator.h"

PlacesStatus find_places(Trans_Tbl* head, std::FILE* prog, const ProgramMap& map, bool wide,
                         std::vector<EntryPlaces>& places) {
    try {
        std::unordered_map<const Trans_Tbl*, std::size_t> index;
        for (const Trans_Tbl* e = head; e != nullptr; e = e->next) index.emplace(e, index.size());
        places.assign(index.size(), EntryPlaces{});
        for (std::size_t level = 0; level < kSearchLevels.size(); ++level) {
            if (std::fseek(prog, 0, SEEK_SET) != 0) return PlacesStatus::read_error;
            for (Trans_Tbl* e = head; e != nullptr; e = e->next) e->n_trans = e->n_risc = 0;
            HitObserver observe = [&](const Trans_Tbl* entry, std::int64_t offset) {
                EntryPlaces& p = places[index.at(entry)];
                auto at = static_cast<std::uint64_t>(offset);
                const Section* s = section_at(map, at);
                if (s != nullptr && s->executable) {
                    ++p.in_code[level];
                    std::vector<std::string>& names = p.code_in[level];
                    if (std::find(names.begin(), names.end(), s->name) == names.end()) names.push_back(s->name);
                }
                if (!is_hidden(map, at)) return;
                if (p.hidden[level]++ == 0) p.hidden_in[level] = s != nullptr ? s->name : kOutsideSections;
            };
            switch (find_texts(head, prog, kSearchLevels[level], wide, observe)) {
                case TranslateStatus::ok:
                case TranslateStatus::write_error:  // nothing is written
                    break;
                case TranslateStatus::read_error:
                    return PlacesStatus::read_error;
                case TranslateStatus::out_of_memory:
                    return PlacesStatus::out_of_memory;
            }
            for (const Trans_Tbl* e = head; e != nullptr; e = e->next) places[index.at(e)].found[level] = e->n_trans;
        }
        for (Trans_Tbl* e = head; e != nullptr; e = e->next) e->n_trans = e->n_risc = 0;
        return PlacesStatus::ok;
    } catch (const std::bad_alloc&) {
        return PlacesStatus::out_of_memory;
    }
}
