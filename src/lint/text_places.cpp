#include "text_places.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "translator.h"
#include "wide_text.h"

namespace {

PlacesStatus search(Trans_Tbl* head, std::FILE* prog, int relax, bool wide, const HitObserver& observe) {
    if (std::fseek(prog, 0, SEEK_SET) != 0) return PlacesStatus::read_error;
    switch (find_texts(head, prog, relax, wide, observe)) {
        case TranslateStatus::ok:
        case TranslateStatus::write_error:  // nothing is written
            return PlacesStatus::ok;
        case TranslateStatus::read_error:
            return PlacesStatus::read_error;
        case TranslateStatus::out_of_memory:
            return PlacesStatus::out_of_memory;
    }
    return PlacesStatus::ok;
}

// Copies of some entries linked as a list of their own, sought without the
// others; a copy's position is its entry's position in which.
class SubList {
public:
    SubList(const std::vector<Trans_Tbl*>& list, const std::vector<std::size_t>& which) : copies_(which.size()) {
        for (std::size_t k = 0; k < which.size(); ++k) {
            copies_[k] = *list[which[k]];
            copies_[k].n_trans = copies_[k].n_risc = 0;
            copies_[k].prev = k == 0 ? nullptr : &copies_[k - 1];
            copies_[k].next = k + 1 == which.size() ? nullptr : &copies_[k + 1];
        }
    }
    Trans_Tbl* head() { return copies_.empty() ? nullptr : copies_.data(); }
    std::size_t position(const Trans_Tbl* copy) const { return static_cast<std::size_t>(copy - copies_.data()); }

private:
    std::vector<Trans_Tbl> copies_;
};

// The bytes a text of e's replaces from its place: as bytes or, with wide,
// as UTF-16.
std::int64_t extent(const Trans_Tbl* e, bool wide) {
    std::string units;
    const std::size_t bytes = std::strlen(e->org_name);
    if (wide) utf8_to_utf16le(original_of(e), units);
    return static_cast<std::int64_t>(std::max(bytes, units.size()));
}

// Whether a place lies in the range not counted.
struct Skip {
    std::uint64_t begin = 0, end = 0;
    bool operator()(std::int64_t offset) const {
        const auto at = static_cast<std::uint64_t>(offset);
        return at >= begin && at < end;
    }
};

// An entry found nowhere may stand where an earlier entry acts first: at
// the same offset (a counted UTF-16 text that is its prefix), or over it (a
// longer text replaced from before it, which the walk then passes over).
// Its places are those it has in a list of the entries found nowhere (when
// one of them hides another, the other is sought again without it); the
// entry that acts at each is the hit of the whole list nearest before it
// whose text reaches it.
PlacesStatus find_shadows(const std::vector<Trans_Tbl*>& list, const std::unordered_map<const Trans_Tbl*, std::size_t>& index,
                          std::FILE* prog, bool wide, std::vector<EntryPlaces>& places, const Skip& skip) {
    std::vector<std::size_t> rest;
    std::unordered_set<std::string_view> originals;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::array<std::int64_t, 3>& found = places[i].found;
        const bool first = originals.emplace(list[i]->org_name).second;
        if (first && std::all_of(found.begin(), found.end(), [](std::int64_t n) { return n == 0; })) rest.push_back(i);
    }
    // At -R an entry stands wherever it stands at a lower level.
    std::vector<std::size_t> standing;
    for (bool more = !rest.empty(); more;) {
        SubList sub(list, rest);
        std::vector<bool> hit(rest.size());
        const HitObserver observe = [&](const Trans_Tbl* e, std::int64_t offset) {
            if (!skip(offset)) hit[sub.position(e)] = true;
        };
        if (PlacesStatus s = search(sub.head(), prog, kRelaxAny, wide, observe); s != PlacesStatus::ok) return s;
        std::vector<std::size_t> hidden;
        for (std::size_t k = 0; k < rest.size(); ++k) (hit[k] ? standing : hidden).push_back(rest[k]);
        more = hidden.size() < rest.size() && !hidden.empty();
        rest = std::move(hidden);
    }
    std::sort(standing.begin(), standing.end());
    if (standing.empty()) return PlacesStatus::ok;
    std::vector<std::int64_t> reach(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) reach[i] = extent(list[i], wide);
    SubList sub(list, standing);
    for (std::size_t level = 0; level < kSearchLevels.size(); ++level) {
        std::vector<std::pair<std::int64_t, std::size_t>> at;  // its places: offset, position in standing
        const HitObserver alone = [&](const Trans_Tbl* e, std::int64_t offset) {
            if (!skip(offset)) at.emplace_back(offset, sub.position(e));
        };
        if (PlacesStatus s = search(sub.head(), prog, kSearchLevels[level], wide, alone); s != PlacesStatus::ok) return s;
        if (at.empty()) continue;
        std::sort(at.begin(), at.end());
        std::vector<std::pair<std::int64_t, std::size_t>> acting(at.size(), {-1, 0});  // offset, entry
        const HitObserver whole = [&](const Trans_Tbl* e, std::int64_t offset) {
            const std::size_t i = index.at(e);
            auto from = std::lower_bound(at.begin(), at.end(), std::pair{offset, std::size_t{0}});
            for (auto p = from; p != at.end() && p->first < offset + std::max<std::int64_t>(reach[i], 1); ++p) {
                auto& a = acting[static_cast<std::size_t>(p - at.begin())];
                if (offset >= a.first) a = {offset, i};
            }
        };
        if (PlacesStatus s = search(list.front(), prog, kSearchLevels[level], wide, whole); s != PlacesStatus::ok) return s;
        for (std::size_t j = 0; j < at.size(); ++j) {
            if (acting[j].first < 0) continue;
            std::vector<std::size_t>& by = places[standing[at[j].second]].shadowed_by[level];
            if (std::find(by.begin(), by.end(), acting[j].second) == by.end()) by.push_back(acting[j].second);
        }
    }
    return PlacesStatus::ok;
}

}  // namespace

PlacesStatus find_places(Trans_Tbl* head, std::FILE* prog, const ProgramMap& map, bool wide,
                         std::vector<EntryPlaces>& places, std::uint64_t skip_begin, std::uint64_t skip_end) {
    const Skip skip{skip_begin, skip_end};
    try {
        std::unordered_map<const Trans_Tbl*, std::size_t> index;
        std::vector<Trans_Tbl*> list;
        for (Trans_Tbl* e = head; e != nullptr; e = e->next) {
            index.emplace(e, index.size());
            list.push_back(e);
        }
        places.assign(index.size(), EntryPlaces{});
        for (std::size_t level = 0; level < kSearchLevels.size(); ++level) {
            for (Trans_Tbl* e = head; e != nullptr; e = e->next) e->n_trans = e->n_risc = 0;
            std::vector<std::int64_t> skipped(list.size());
            HitObserver observe = [&](const Trans_Tbl* entry, std::int64_t offset) {
                if (skip(offset)) {
                    ++skipped[index.at(entry)];
                    return;
                }
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
            if (PlacesStatus s = search(head, prog, kSearchLevels[level], wide, observe); s != PlacesStatus::ok) return s;
            for (const Trans_Tbl* e = head; e != nullptr; e = e->next) {
                const std::size_t i = index.at(e);
                places[i].found[level] = e->n_trans - skipped[i];
            }
        }
        PlacesStatus shadows = find_shadows(list, index, prog, wide, places, skip);
        for (Trans_Tbl* e = head; e != nullptr; e = e->next) e->n_trans = e->n_risc = 0;
        return shadows;
    } catch (const std::bad_alloc&) {
        return PlacesStatus::out_of_memory;
    }
}
