#include "resource_places.h"

#include <sys/stat.h>

#include <algorithm>
#include <new>
#include <optional>
#include <unordered_map>

#include "dict_template.h"
#include "pe_image.h"
#include "resource_dialog.h"
#include "resource_menu.h"
#include "resource_messages.h"
#include "resource_strings.h"
#include "resource_template.h"
#include "resource_tree.h"
#include "resource_version.h"
#include "section_readers.h"
#include "wide_text.h"

namespace {

class Reader {
public:
    Reader(const Trans_Tbl* head, ResourcePlaces& out) : out_(out) {
        std::size_t i = 0;
        for (const Trans_Tbl* e = head; e != nullptr; e = e->next, ++i) by_original_.emplace(original_of(e), i);
        out_.found.assign(i, 0);
    }

    // The entry whose original text is, or kNoEntry; counts the place.
    std::size_t take(const ResourceText& units, std::string& text) {
        if (units.empty() || !resource_text_utf8(units, text)) return kNoEntry;
        auto it = by_original_.find(text);
        if (it == by_original_.end()) return kNoEntry;
        ++out_.found[it->second];
        return it->second;
    }

    void texts(std::vector<ResourceText*> texts) {
        std::string text;
        for (const ResourceText* t : texts) take(*t, text);
    }

    void menu(Menu& m, const std::string& where) {
        // The group of each level open, the menu bar first.
        std::vector<std::size_t> open{group(where)};
        std::string text;
        for (const MenuItem& item : m.items) {
            open.resize(std::min<std::size_t>(open.size(), item.depth + 1));
            if (open.size() <= item.depth) open.resize(item.depth + 1, open.back());
            const std::size_t entry = take(item.text, text);
            if (!item.text.empty()) out_.items.push_back({text, entry, open[item.depth], false});
            if (is_popup(m, item)) open.push_back(group(where + ", under '" + escaped(text) + "'"));
        }
    }

    void dialog(Dialog& d, const std::string& where) {
        const std::size_t g = group(where);
        std::string text;
        std::size_t entry = take(d.title, text);
        if (!d.title.empty()) out_.items.push_back({text, entry, g, false});
        for (const DialogControl& c : d.controls) {
            if (c.title.is_ordinal || c.title.name.empty()) continue;
            entry = take(c.title.name, text);
            out_.items.push_back({text, entry, g, true});
        }
    }

private:
    std::size_t group(std::string where) {
        out_.groups.push_back(std::move(where));
        return out_.groups.size() - 1;
    }

    ResourcePlaces& out_;
    std::unordered_map<std::string_view, std::size_t> by_original_;  // the first entry of each original
};

template <class T>
bool decoded(const ResourceResult<T>& r, const std::string& where, std::string& reason) {
    if (r.ok()) return true;
    reason = where + ": " + r.error + " (at byte " + std::to_string(r.offset) + ")";
    return false;
}

ResourcePlacesStatus read(const Trans_Tbl* head, std::FILE* prog, const std::vector<std::uint16_t>& languages,
                          ResourcePlaces& out, std::string& reason) {
    struct stat st {};
    if (::fstat(fileno(prog), &st) != 0) {
        reason = "it cannot be read";
        return ResourcePlacesStatus::unreadable;
    }
    FileBytes file(fileno(prog), static_cast<std::uint64_t>(st.st_size));
    const std::optional<PeImage> image = read_pe_image(file);
    if (!image) {
        reason = "it is no PE program";
        return ResourcePlacesStatus::unreadable;
    }
    ResourceRead tree = read_resource_tree(file, *image);
    if (!tree.ok()) {
        reason = tree.message;
        return ResourcePlacesStatus::unreadable;
    }
    const PeDirectory dir = image->directory(PeDirectoryIndex::resources);
    for (const PeSection& s : image->sections) {
        const std::uint32_t extent = std::max(s.virtual_size, s.raw_size);
        if (s.has_bytes() && dir.rva >= s.virtual_address && dir.rva - s.virtual_address < extent) {
            out.section_begin = s.raw_offset;
            out.section_end = std::uint64_t{s.raw_offset} + s.raw_size;
            break;
        }
    }
    Reader reader(head, out);
    for (ResourceEntry& e : tree.tree.entries) {
        if (e.type.named) continue;
        if (!languages.empty() &&
            (e.language.named || std::find(languages.begin(), languages.end(), e.language.id) == languages.end())) {
            continue;
        }
        const std::string_view bytes(reinterpret_cast<const char*>(e.data.data()), e.data.size());
        switch (e.type.id) {
            case kResourceMenu: {
                const std::string where = resource_heading(e);
                auto m = decode_menu(bytes);
                if (!decoded(m, where, reason)) return ResourcePlacesStatus::unreadable;
                reader.menu(m.value, where);
                break;
            }
            case kResourceDialog: {
                const std::string where = resource_heading(e);
                auto d = decode_dialog(bytes);
                if (!decoded(d, where, reason)) return ResourcePlacesStatus::unreadable;
                reader.dialog(d.value, where);
                break;
            }
            case kResourceStringTable: {
                auto t = decode_string_table(bytes);
                if (!decoded(t, resource_heading(e), reason)) return ResourcePlacesStatus::unreadable;
                reader.texts(string_table_texts(t.value));
                break;
            }
            case kResourceMessageTable: {
                auto t = decode_message_table(bytes);
                if (!decoded(t, resource_heading(e), reason)) return ResourcePlacesStatus::unreadable;
                reader.texts(message_texts(t.value));
                break;
            }
            case kResourceVersion: {
                auto t = decode_version(bytes);
                if (!decoded(t, resource_heading(e), reason)) return ResourcePlacesStatus::unreadable;
                reader.texts(version_texts(t.value));
                break;
            }
            default:
                break;
        }
    }
    return ResourcePlacesStatus::ok;
}

}  // namespace

ResourcePlacesStatus find_resource_places(const Trans_Tbl* head, std::FILE* prog,
                                          const std::vector<std::uint16_t>& languages, ResourcePlaces& out,
                                          std::string& reason) {
    try {
        return read(head, prog, languages, out, reason);
    } catch (const std::bad_alloc&) {
        return ResourcePlacesStatus::out_of_memory;
    }
}
