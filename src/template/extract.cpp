#include "extract.h"

#include <cstdint>
#include <new>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "dict_template.h"
#include "po_template.h"
#include "program_sections.h"
#include "string_scan.h"
#include "wide_scan.h"

namespace {

struct Extract {
    const ExtractSettings& s;
    const ProgramMap& map;
    std::FILE* out;
    std::unordered_set<std::string> known;
    std::unordered_set<std::string> seen;
    ExtractCounts counts;
    bool headed = false;
    const Section* group = nullptr;  // the section whose comment was written last
    bool grouped = false;
    std::unordered_set<std::string> hidden;  // texts left out where they stood
    PoTemplate* po;  // with -P: the messages, written once the program was read

    // Written with the first text or at the end, so that a program that
    // cannot be read leaves the template empty.
    void header() {
        if (headed) return;
        headed = true;
        write_comment(out, "Dictionary template for ", s.program);
        if (s.dictionary) write_comment(out, "Leaving out the texts translated in ", *s.dictionary);
        char about[80];
        std::snprintf(about, sizeof about, "Texts of %zu bytes or more, each translated to itself.", s.min_size);
        write_comment(out, about);
        if (map.format == ProgramFormat::unknown) {
            write_comment(out, "The format of the program was not recognised (ELF or PE): every text is listed.");
        } else if (s.all) {
            write_comment(out, "With -a: the names the program never shows are listed too.");
        }
    }

    // The comment that names the section of the text at offset, when it is
    // not the one named last.
    void section(std::uint64_t offset) {
        if (map.format == ProgramFormat::unknown) return;
        const Section* at = section_at(map, offset);
        if (grouped && at == group) return;
        grouped = true;
        group = at;
        // The label for no section is the tool's own words, never quoted as a
        // name with blanks would be.
        if (at != nullptr) {
            write_label(out, at->name);
        } else {
            write_comment(out, kOutsideSections);
        }
    }

    // The name of the section of the text at offset, for a message's comment.
    std::string heading(std::uint64_t offset) const {
        if (map.format == ProgramFormat::unknown) return "";
        const Section* at = section_at(map, offset);
        return at != nullptr ? label_text(at->name) : kOutsideSections;
    }

    void text(std::uint64_t offset, std::string_view text, TextRoom room) {
        if (!looks_like_text(text, s.min_size)) return;
        // A text that stands where the program never shows it is listed
        // only where it stands elsewhere as well.
        if (!s.all && is_hidden(map, offset)) {
            hidden.emplace(text);
            return;
        }
        // A message names every place of its text; a line only the first.
        const bool first = seen.emplace(text).second;
        if (!first && po == nullptr) return;
        if (known.count(std::string(text)) != 0) {
            if (first) ++counts.left_out;
            return;
        }
        if (po != nullptr) {
            po->add(text, heading(offset), room);
            return;
        }
        header();
        section(offset);
        if (write_template_entry(out, text)) {
            ++counts.lines;
        } else {
            ++counts.comments;
        }
    }
};

ExtractStatus status_of(ScanStatus scanned) {
    switch (scanned) {
        case ScanStatus::ok:
            return ExtractStatus::ok;
        case ScanStatus::stopped:
            return ExtractStatus::write_error;
        case ScanStatus::read_error:
            return ExtractStatus::read_error;
        case ScanStatus::out_of_memory:
            break;
    }
    return ExtractStatus::out_of_memory;
}

ExtractStatus extract(std::FILE* prog, const ExtractSettings& s, std::FILE* out, const std::function<bool()>& read_whole,
                      ExtractCounts& counts) {
    const ProgramMap map = read_program_map(fileno(prog));
    PoTemplate po;
    Extract extract{s, map, out, {}, {}, {}, false, nullptr, false, {}, s.po ? &po : nullptr};
    for (const Trans_Tbl* e = s.known; e != nullptr; e = e->next) extract.known.insert(e->org_name);
    bool memory_out = false;
    // With wide the UTF-16 texts are found first, each with the offset where
    // it first stands, and merged into the byte texts by that offset.
    std::vector<std::pair<std::uint64_t, std::string>> wide_texts;
    ScanStatus scanned = ScanStatus::ok;
    if (s.wide) {
        std::unordered_set<std::string> found;
        scanned = scan_wide_strings(prog, [&](std::uint64_t offset, std::string_view text) {
            try {
                if (!s.all && is_hidden(map, offset)) return true;
                if (looks_like_text(text, s.min_size) && found.emplace(text).second) {
                    wide_texts.emplace_back(offset, text);
                }
                return true;
            } catch (const std::bad_alloc&) {
                memory_out = true;
                return false;
            }
        });
        if (scanned == ScanStatus::ok && std::fseek(prog, 0, SEEK_SET) != 0) scanned = ScanStatus::read_error;
    }
    std::size_t next_wide = 0;
    auto texts_before = [&](std::uint64_t offset) {
        for (; next_wide < wide_texts.size() && wide_texts[next_wide].first < offset; ++next_wide) {
            extract.text(wide_texts[next_wide].first, wide_texts[next_wide].second, TextRoom::units);
        }
    };
    // The scan stops at the first write that fails.
    if (scanned == ScanStatus::ok && !memory_out) {
        scanned = scan_strings(prog, [&](std::uint64_t offset, std::string_view text) {
            try {
                texts_before(offset);
                extract.text(offset, text, TextRoom::bytes);
                return std::ferror(out) == 0;
            } catch (const std::bad_alloc&) {
                memory_out = true;
                return false;
            }
        });
    }
    if (scanned == ScanStatus::ok && !memory_out) texts_before(UINT64_MAX);
    if (memory_out) return ExtractStatus::out_of_memory;
    if (scanned == ScanStatus::ok && !read_whole()) return ExtractStatus::read_error;
    if (scanned != ScanStatus::ok) return status_of(scanned);
    if (s.po) {
        PoHeader header{po_notes(s), s.creation_date};
        if (map.format == ProgramFormat::unknown) {
            header.notes.emplace_back("The format of the program was not recognised (ELF or PE): every text is listed.");
        } else if (s.all) {
            header.notes.emplace_back("With -a: the names the program never shows are listed too.");
        }
        po.write(out, header);
        if (std::ferror(out) != 0) return ExtractStatus::write_error;
        extract.counts.lines = po.size();
    } else {
        extract.header();
    }
    counts = extract.counts;
    if (map.format != ProgramFormat::unknown && !s.all) {
        std::size_t not_shown = 0;
        for (const std::string& t : extract.hidden) not_shown += extract.seen.count(t) == 0 ? 1 : 0;
        counts.not_shown = not_shown;
    }
    return ExtractStatus::ok;
}

}  // namespace

std::vector<std::string> po_notes(const ExtractSettings& s) {
    std::vector<std::string> notes{"The texts of \"" + s.program + "\", by vorlang-extract -P."};
    if (s.dictionary) notes.push_back("Leaving out the texts translated in \"" + *s.dictionary + "\".");
    notes.push_back("Texts of " + std::to_string(s.min_size) + " bytes or more; a comment on each gives its room.");
    return notes;
}

ExtractStatus extract_template(std::FILE* prog, const ExtractSettings& settings, std::FILE* out,
                               const std::function<bool()>& read_whole, ExtractCounts& counts) {
    try {
        return extract(prog, settings, out, read_whole, counts);
    } catch (const std::bad_alloc&) {
        return ExtractStatus::out_of_memory;
    }
}
