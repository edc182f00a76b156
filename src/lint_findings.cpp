#include "lint_findings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "dict_template.h"
#include "format_directives.h"
#include "relax.h"
#include "utf8.h"

namespace {

// A text in single quotes, its control bytes escaped, and each byte that is
// no part of well-formed UTF-8 (as a cut leaves it) written as \xHH.
std::string q(std::string_view text) {
    std::string out = "'";
    for (std::size_t i = 0; i < text.size();) {
        std::uint32_t cp = 0;
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t n = c < 0x80 ? 1 : utf8_sequence(text, i, cp);
        if (n == 0) {
            char h[5];
            std::snprintf(h, sizeof h, "\\x%02x", c);
            out += h;
            n = 1;
        } else if (c < 0x80) {
            out += escaped(text.substr(i, 1));
        } else {
            out += text.substr(i, n);
        }
        i += n;
    }
    return out + "'";
}

std::string pair_text(const Trans_Tbl* e) { return q(e->org_name) + " -> " + q(e->new_name_full); }

// "C3 AB" for the bytes of 'ë'.
std::string hex(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        char h[4];
        std::snprintf(h, sizeof h, "%s%02X", out.empty() ? "" : " ", c);
        out += h;
    }
    return out;
}

std::string places(std::int64_t n) { return std::to_string(n) + (n == 1 ? " place" : " places"); }

struct Entries {
    std::vector<const Trans_Tbl*> list;
    std::unordered_map<const Trans_Tbl*, std::size_t> index;
    explicit Entries(const Trans_Tbl* head) {
        for (const Trans_Tbl* e = head; e != nullptr; e = e->next) {
            index.emplace(e, list.size());
            list.push_back(e);
        }
    }
};

std::uint32_t line_of(const DictionaryLayout& layout, std::size_t i) {
    return i < layout.entry_line.size() ? layout.entry_line[i] : 0;
}

// The cut translation must keep the original's printf directives.
void directive_findings(const Trans_Tbl* e, std::uint32_t line, std::vector<Finding>& out) {
    DirectiveCheck c = compare_directives(e->org_name, e->new_name);
    if (c.mismatch == DirectiveMismatch::none) return;
    const std::string want = directive_list(e->org_name);
    const std::string have = directive_list(e->new_name);
    std::string m;
    switch (c.mismatch) {
        case DirectiveMismatch::none:
            return;
        case DirectiveMismatch::cut:
            m = "the cut translation " + q(e->new_name) + " ends inside a printf directive; keep " + q(want);
            break;
        case DirectiveMismatch::count:
            m = "printf directives differ in number: " + q(want) + " in the original, " + q(have) + " in the translation";
            break;
        case DirectiveMismatch::kind:
            m = "printf directive " + std::to_string(c.original + 1) + " differs in kind: " + q(want) +
                " in the original, " + q(have) + " in the translation";
            break;
        case DirectiveMismatch::order:
            m = "printf directives in another order: " + q(want) + " in the original, " + q(have) + " in the translation";
            break;
    }
    out.push_back({line, Severity::error, m});
}

}  // namespace

void dictionary_findings(const Trans_Tbl* head, const DictionaryLayout& layout, std::vector<Finding>& out) {
    Entries entries(head);
    for (const DictionaryLayout::Message& m : layout.messages) {
        std::string text = m.text.substr(0, m.text.find('\n'));
        out.push_back({m.line, Severity::error, "the line gives no entry: " + text});
    }
    for (const DictionaryLayout::LongLine& l : layout.long_lines) {
        std::string m = "the line has " + std::to_string(l.length) + " characters and is read as lines of at most " +
                        std::to_string(kReadPiece) + "; ";
        if (l.entries == 0) {
            m += "it gives no entry";
        } else {
            m += "it gives ";
            for (std::size_t k = 0; k < l.entries; ++k) {
                if (k != 0) m += ", ";
                m += pair_text(entries.list[l.first_entry + k]);
            }
        }
        out.push_back({l.line, Severity::warning, m});
    }
    // Conflicts as the consistency check finds them, one per pair.
    std::vector<std::vector<const Trans_Tbl*>> conflicts(entries.list.size());
    CheckVisitor visit{[&](const Trans_Tbl* e, const Trans_Tbl* p) { conflicts[entries.index.at(e)].push_back(p); },
                       [](const Trans_Tbl*) {}};
    if (visit_check(head, visit) == kCheckOutOfMemory) throw std::bad_alloc();
    std::map<std::pair<std::string_view, std::string_view>, std::size_t> first;
    for (std::size_t i = 0; i < entries.list.size(); ++i) {
        const Trans_Tbl* e = entries.list[i];
        const std::uint32_t line = line_of(layout, i);
        for (const Trans_Tbl* p : conflicts[i]) {
            out.push_back({line, Severity::error,
                           q(e->org_name) + " is translated to " + q(e->new_name) + " here and to " + q(p->new_name) +
                               " on line " + std::to_string(line_of(layout, entries.index.at(p))) +
                               "; vorlang refuses the dictionary"});
        }
        auto [at, fresh] = first.emplace(std::pair{std::string_view(e->org_name), std::string_view(e->new_name)}, i);
        if (!fresh) {
            const Trans_Tbl* p = entries.list[at->second];
            std::string m = "repeats line " + std::to_string(line_of(layout, at->second)) +
                            (std::strcmp(p->new_name_full, e->new_name_full) == 0 ? " exactly" : ", cut to the same translation");
            if (std::strcmp(e->org_name, e->new_name) != 0) m += "; it will never be applied";
            out.push_back({line, Severity::warning, m});
        }
        const std::size_t room = std::strlen(e->org_name);
        const std::size_t full = std::strlen(e->new_name_full);
        if (full > room) {
            const std::string_view text = e->new_name_full;
            if (Utf8Cut cut = utf8_cut(text, room); cut.size != 0) {
                out.push_back({line, Severity::error,
                               "the cut ends inside the UTF-8 character " + q(text.substr(cut.at, cut.size)) + " (" +
                                   hex(text.substr(cut.at, cut.size)) + "): " + hex(text.substr(room, cut.at + cut.size - room)) +
                                   " lost"});
            }
            out.push_back({line, Severity::warning,
                           "translation has " + std::to_string(full) + " bytes, room for " + std::to_string(room) +
                               ": " + q(e->new_name)});
        }
        directive_findings(e, line, out);
    }
}

void program_findings(const Trans_Tbl* head, const DictionaryLayout& layout, const std::vector<EntryPlaces>& found,
                      int relax, bool wide, std::vector<Finding>& out) {
    const std::size_t level = search_level(relax);
    // Where an earlier entry has the same original, it acts first: the
    // later one is told of as a conflict or a repeat, not as missing.
    std::unordered_map<std::string_view, std::size_t> first;
    std::size_t i = 0;
    for (const Trans_Tbl* e = head; e != nullptr; e = e->next, ++i) {
        if (!first.emplace(e->org_name, i).second) continue;
        const EntryPlaces& p = found[i];
        const std::uint32_t line = line_of(layout, i);
        std::size_t lowest = 0;
        while (lowest < p.found.size() && p.found[lowest] == 0) ++lowest;
        if (lowest == p.found.size()) {
            out.push_back({line, Severity::note,
                           q(e->org_name) + (wide ? " is not in the program, as bytes or as UTF-16" : " is not in the program")});
            continue;
        }
        // The places of the level asked for, or of the lowest that has any.
        const std::size_t at = p.found[level] != 0 ? level : lowest;
        if (p.hidden[at] == p.found[at]) {
            out.push_back({line, Severity::error,
                           q(e->org_name) + " stands only where the program never shows it (" + p.hidden_in[at] +
                               "): translating it changes a name the program uses"});
        }
        if (lowest != 0) {
            out.push_back({line, Severity::warning,
                           q(e->org_name) + " is found only with " + (lowest == 1 ? "-r" : "-R") + " (" +
                               places(p.found[lowest]) + "), where the byte before it is not 0"});
        }
        if (p.found[level] >= kManyPlaces) {
            out.push_back({line, Severity::warning,
                           q(e->org_name) + " is found in " + places(p.found[level]) +
                               ": make sure each of them is a text to translate"});
        }
    }
}

void sort_findings(std::vector<Finding>& findings) {
    std::stable_sort(findings.begin(), findings.end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
}

std::string finding_line(const std::string& dictionary, const Finding& f) {
    static constexpr const char* kSeverity[] = {"error", "warning", "note"};
    return dictionary + ":" + std::to_string(f.line) + ": " + kSeverity[static_cast<int>(f.severity)] + ": " + f.message;
}
