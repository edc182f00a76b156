#include "resource_template.h"

#include <sys/stat.h>

#include <algorithm>
#include <new>
#include <string_view>
#include <unordered_set>

#include "dict_template.h"
#include "po_template.h"
#include "pe_image.h"
#include "resource_dialog.h"
#include "resource_menu.h"
#include "resource_messages.h"
#include "resource_strings.h"
#include "resource_tree.h"
#include "resource_version.h"
#include "section_readers.h"
#include "wide_text.h"

namespace {

bool has_texts(const ResourceEntry& e) {
    return !e.type.named && !e.language.named && resource_kind_name(e.type.id) != nullptr;
}

std::string hex4(std::uint32_t id) {
    char buf[12];
    std::snprintf(buf, sizeof buf, "%04x", static_cast<unsigned>(id));
    return buf;
}

// The language as a resource's comment names it.
std::string language_label(std::uint32_t id) {
    std::string tag = language_tag(id);
    return tag.empty() ? "lang 0x" + hex4(id) : tag;
}


// Language-neutral resources (primary language 0: 0x0000, 0x0400, 0x0800,
// ...) are shown whatever the user's language.
bool neutral(std::uint32_t id) { return (id & 0x3FF) == 0; }

// English where the program has it, 0x0409 first; else its first language
// that is not neutral; else its first.
std::uint16_t default_language(const ResourceTree& tree) {
    std::optional<std::uint32_t> first, first_named, english;
    for (const ResourceEntry& e : tree.entries) {
        if (!has_texts(e)) continue;
        const std::uint32_t id = e.language.id;
        if (!first) first = id;
        if (!first_named && !neutral(id)) first_named = id;
        if (id == 0x0409) return 0x0409;
        if ((id & 0x3FF) == 0x09 && !english) english = id;
    }
    return static_cast<std::uint16_t>(english ? *english : first_named ? *first_named : *first);
}

// The texts of one resource, copied out of its decoded model.
struct ResourceTexts {
    std::string heading;
    std::vector<ResourceText> texts;
};

template <class T>
bool take(ResourceResult<T> decoded, std::vector<ResourceText*> (*texts_of)(T&), ResourceTexts& r,
          std::string& reason) {
    if (!decoded.ok()) {
        reason = r.heading + ": " + decoded.error + " (at byte " + std::to_string(decoded.offset) + ")";
        return false;
    }
    for (const ResourceText* t : texts_of(decoded.value)) r.texts.push_back(*t);
    return true;
}

bool decode(const ResourceEntry& e, ResourceTexts& r, std::string& reason) {
    const std::string_view bytes(reinterpret_cast<const char*>(e.data.data()), e.data.size());
    switch (e.type.id) {
        case kResourceMenu: return take(decode_menu(bytes), menu_texts, r, reason);
        case kResourceDialog: return take(decode_dialog(bytes), dialog_texts, r, reason);
        case kResourceStringTable: return take(decode_string_table(bytes), string_table_texts, r, reason);
        case kResourceMessageTable: return take(decode_message_table(bytes), message_texts, r, reason);
        case kResourceVersion: return take(decode_version(bytes), version_texts, r, reason);
        default: return true;
    }
}

ResourceExtract failure(ExtractStatus status, std::string reason) {
    ResourceExtract r;
    r.status = status;
    r.reason = std::move(reason);
    return r;
}

ResourceExtract extract(std::FILE* prog, const ExtractSettings& s, const std::vector<std::uint16_t>& languages,
                        std::FILE* out, const std::function<bool()>& read_whole, ExtractCounts& counts) {
    struct stat st {};
    if (::fstat(fileno(prog), &st) != 0) return failure(ExtractStatus::read_error, "");
    FileBytes file(fileno(prog), static_cast<std::uint64_t>(st.st_size));
    const std::optional<PeImage> image = read_pe_image(file);
    if (!image) return failure(ExtractStatus::no_resources, "it is no PE program");
    const ResourceRead tree = read_resource_tree(file, *image);
    if (!tree.ok()) return failure(ExtractStatus::no_resources, tree.message);
    if (std::none_of(tree.tree.entries.begin(), tree.tree.entries.end(), has_texts)) {
        return failure(ExtractStatus::no_resources,
                       "it has no menu, dialog, string table, message table or version information");
    }

    ResourceExtract result;
    if (languages.empty()) {
        result.language = default_language(tree.tree);
    } else {
        auto has = [&tree](std::uint16_t id) {
            return std::any_of(tree.tree.entries.begin(), tree.tree.entries.end(),
                               [id](const ResourceEntry& e) { return has_texts(e) && e.language.id == id; });
        };
        auto it = std::find_if(languages.begin(), languages.end(), has);
        if (it == languages.end()) {
            std::string asked;
            for (std::uint16_t id : languages) asked += (asked.empty() ? "" : ", ") + hex4(id);
            return failure(ExtractStatus::no_language, asked);
        }
        result.language = *it;
    }

    // Without -l, the neutral resources come with the language taken: its
    // users see them too.
    const bool with_neutral = languages.empty() && !neutral(result.language);
    bool neutral_taken = false;
    // Every resource is read before the first line is written.
    std::vector<ResourceTexts> resources;
    for (const ResourceEntry& e : tree.tree.entries) {
        if (!has_texts(e)) continue;
        if (e.language.id != result.language) {
            if (!with_neutral || !neutral(e.language.id)) continue;
            neutral_taken = true;
        }
        ResourceTexts r;
        r.heading = resource_heading(e);
        std::string reason;
        if (!decode(e, r, reason)) return failure(ExtractStatus::no_resources, reason);
        resources.push_back(std::move(r));
    }
    if (std::fseek(prog, 0, SEEK_END) != 0 || !read_whole()) return failure(ExtractStatus::read_error, "");

    const std::string tag = language_tag(result.language);
    const std::string language_note = "Resources of language " + (tag.empty() ? "" : tag + " (") + hex4(result.language) +
                                      (tag.empty() ? "" : ")") + "; -l picks another.";
    const std::string neutral_note = "And the language-neutral resources, which every language shows.";
    if (!s.po) {
        write_comment(out, "Dictionary template for ", s.program);
        if (s.dictionary) write_comment(out, "Leaving out the texts translated in ", *s.dictionary);
        char about[80];
        std::snprintf(about, sizeof about, "Texts of %zu bytes or more, each translated to itself.", s.min_size);
        write_comment(out, about);
        write_comment(out, language_note);
        if (neutral_taken) write_comment(out, neutral_note);
    }

    std::unordered_set<std::string> known;
    for (const Trans_Tbl* e = s.known; e != nullptr; e = e->next) known.insert(e->org_name);
    std::unordered_set<std::string> seen;
    std::string text;
    // With -P the messages are gathered, each with every resource it stands in.
    PoTemplate po;
    for (const ResourceTexts& r : resources) {
        bool headed = false;
        for (const ResourceText& units : r.texts) {
            if (units.empty()) continue;
            const bool whole = resource_text_utf8(units, text);
            if (whole && text.size() < s.min_size) continue;
            const bool first = whole && seen.insert(text).second;
            if (whole && !first && !s.po) continue;
            if (whole && known.count(text) != 0) {
                if (first) ++counts.left_out;
                continue;
            }
            if (s.po) {
                if (whole) {
                    po.add(text, r.heading, TextRoom::any);
                } else {
                    ++counts.not_utf8;
                }
                continue;
            }
            if (!headed) write_comment(out, r.heading);
            headed = true;
            if (!whole) {
                write_comment(out, "A text holds half a UTF-16 pair, which no UTF-8 text can hold.");
                ++counts.comments;
            } else if (write_template_entry(out, text)) {
                ++counts.lines;
            } else {
                ++counts.comments;
            }
        }
        if (std::ferror(out) != 0) return failure(ExtractStatus::write_error, "");
    }
    if (s.po) {
        PoHeader header{po_notes(s), s.creation_date};
        header.notes.push_back(language_note);
        if (neutral_taken) header.notes.push_back(neutral_note);
        if (counts.not_utf8 != 0) {
            header.notes.push_back("Left out: " + std::to_string(counts.not_utf8) +
                                   " texts that hold half a UTF-16 pair, which no UTF-8 text can hold.");
        }
        po.write(out, header);
        if (std::ferror(out) != 0) return failure(ExtractStatus::write_error, "");
        counts.lines = po.size();
    }
    return result;
}

struct Tag {
    std::uint16_t id;
    const char* tag;
};

constexpr Tag kTags[] = {
    {0x0404, "zh-TW"}, {0x0405, "cs-CZ"}, {0x0406, "da-DK"}, {0x0407, "de-DE"}, {0x0408, "el-GR"},
    {0x0409, "en-US"}, {0x040b, "fi-FI"}, {0x040c, "fr-FR"}, {0x040e, "hu-HU"}, {0x0410, "it-IT"},
    {0x0411, "ja-JP"}, {0x0412, "ko-KR"}, {0x0413, "nl-NL"}, {0x0414, "nb-NO"}, {0x0415, "pl-PL"},
    {0x0416, "pt-BR"}, {0x0419, "ru-RU"}, {0x041d, "sv-SE"}, {0x041f, "tr-TR"}, {0x0422, "uk-UA"},
    {0x0804, "zh-CN"}, {0x0807, "de-CH"}, {0x0809, "en-GB"}, {0x080c, "fr-BE"}, {0x0813, "nl-BE"},
    {0x0816, "pt-PT"}, {0x0c07, "de-AT"}, {0x0c09, "en-AU"}, {0x0c0a, "es-ES"}, {0x0c0c, "fr-CA"},
    {0x1009, "en-CA"}, {0x100c, "fr-CH"},
};

}  // namespace

std::string resource_heading(const ResourceEntry& e) {
    std::string name;
    if (!e.name.named) {
        name = std::to_string(e.name.id);
    } else if (resource_text_utf8(e.name.name, name)) {
        name = escaped(name);
    } else {
        name = "(a name that is no UTF-16 text)";
    }
    return std::string(resource_kind_name(e.type.id)) + " " + name + ", " + language_label(e.language.id);
}

std::string language_tag(std::uint32_t id) {
    for (const Tag& t : kTags) {
        if (t.id == id) return t.tag;
    }
    return "";
}

std::optional<std::uint16_t> parse_language_id(const std::string& arg) {
    if (arg.empty() || arg.size() > 4 || arg.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(std::stoul(arg, nullptr, 16));
}

ResourceExtract extract_resource_template(std::FILE* prog, const ExtractSettings& settings,
                                          const std::vector<std::uint16_t>& languages, std::FILE* out,
                                          const std::function<bool()>& read_whole, ExtractCounts& counts) {
    try {
        return extract(prog, settings, languages, out, read_whole, counts);
    } catch (const std::bad_alloc&) {
        return failure(ExtractStatus::out_of_memory, "");
    }
}
