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

// At most this many runs of entries are named in one conflict finding; the
// rest are counted, so that a finding stays a line to read.
constexpr std::size_t kNamedRuns = 8;

// The conflicts the consistency check finds (an earlier entry gives the
// original another cut translation), told once per entry rather than once
// per pair: n entries with one original make n*n/2 pairs. An entry
// conflicts with the earlier entries of its original less those of its own
// translation, which split them into runs (the gaps between its own
// translation's entries). Memory is linear in the entries, and an entry
// costs at most kNamedRuns steps, the empty gaps skipped by next_run.
class Conflicts {
public:
    explicit Conflicts(const std::vector<const Trans_Tbl*>& list) : place_(list.size()) {
        std::unordered_map<std::string_view, std::uint32_t> count;
        for (const Trans_Tbl* e : list) ++count[e->org_name];
        std::unordered_map<std::string_view, std::uint32_t> group;
        std::map<std::pair<std::uint32_t, std::string_view>, std::uint32_t> translation;
        std::vector<std::uint32_t> translations;  // per shared original, so far
        for (std::size_t i = 0; i < list.size(); ++i) {
            const Trans_Tbl* e = list[i];
            if (count[e->org_name] < 2) continue;
            auto [g, fresh_group] = group.emplace(e->org_name, static_cast<std::uint32_t>(members_.size()));
            if (fresh_group) {
                members_.emplace_back();
                translations.push_back(0);
            }
            std::vector<std::uint32_t>& m = members_[g->second];
            auto [t, fresh] = translation.emplace(std::pair{g->second, std::string_view(e->new_name)},
                                                  static_cast<std::uint32_t>(at_.size()));
            if (fresh) {
                at_.emplace_back();
                ++translations[g->second];
            }
            Place& p = place_[i];
            p.group = g->second;
            p.translation = t->second;
            p.rank = static_cast<std::uint32_t>(at_[t->second].size());
            p.distinct_before = translations[g->second] - (fresh ? 1 : 0);
            at_[t->second].push_back(static_cast<std::uint32_t>(m.size()));
            m.push_back(static_cast<std::uint32_t>(i));
        }
        next_run_.resize(at_.size());
        for (std::size_t t = 0; t < at_.size(); ++t) {
            const std::vector<std::uint32_t>& at = at_[t];
            std::vector<std::uint32_t>& next = next_run_[t];
            next.assign(at.size() + 1, static_cast<std::uint32_t>(at.size()));
            for (std::size_t j = at.size(); j-- > 0;) {
                next[j] = gap_begin(at, j) < at[j] ? static_cast<std::uint32_t>(j) : next[j + 1];
            }
        }
    }

    // The finding for entry i, or "" when it conflicts with no earlier entry.
    std::string message(std::size_t i, const std::vector<const Trans_Tbl*>& list, const DictionaryLayout& layout) const {
        const Place& p = place_[i];
        if (p.group == kAlone) return "";
        const std::vector<std::uint32_t>& m = members_[p.group];
        const std::vector<std::uint32_t>& at = at_[p.translation];
        const std::vector<std::uint32_t>& next = next_run_[p.translation];
        const std::uint32_t count = at[p.rank] - p.rank;
        if (count == 0) return "";
        const Trans_Tbl* e = list[i];
        const std::string start = q(e->org_name) + " is translated to " + q(e->new_name) + " here and to ";
        const std::string end = "; vorlang refuses the dictionary";
        std::string lines;
        std::uint32_t named = 0;
        std::size_t runs = 0;
        const Trans_Tbl* other = nullptr;
        for (std::uint32_t j = next[0]; j <= p.rank && runs < kNamedRuns; j = next[j + 1], ++runs) {
            const std::uint32_t from = gap_begin(at, j);
            const std::uint32_t to = at[j] - 1;
            if (other == nullptr) other = list[m[from]];
            const std::uint32_t first_line = line_of(layout, m[from]);
            const std::uint32_t last_line = line_of(layout, m[to]);
            lines += (lines.empty() ? "" : ", ") + std::to_string(first_line);
            if (last_line != first_line) lines += "-" + std::to_string(last_line);
            named += to + 1 - from;
        }
        if (count == 1) return start + q(other->new_name) + " on line " + lines + end;
        const std::uint32_t others = p.distinct_before - (p.rank != 0 ? 1 : 0);
        std::string text = start + (others == 1 ? q(other->new_name) : std::to_string(others) + " other translations") +
                           " in " + std::to_string(count) + " earlier entries: lines " + lines;
        if (named < count) text += " and " + std::to_string(count - named) + " more";
        return text + end;
    }

private:
    static constexpr std::uint32_t kAlone = UINT32_MAX;
    struct Place {
        std::uint32_t group = kAlone;    // in members_, or kAlone: no other entry has the original
        std::uint32_t translation = 0;   // in at_
        std::uint32_t rank = 0;          // the entry's index in at_[translation]
        std::uint32_t distinct_before = 0;  // translations of the original before the entry
    };
    // The first position of gap j: the entries of the original after the
    // translation's (j-1)th and before its jth.
    static std::uint32_t gap_begin(const std::vector<std::uint32_t>& at, std::size_t j) {
        return j == 0 ? 0 : at[j - 1] + 1;
    }
    std::vector<Place> place_;                           // per entry
    std::vector<std::vector<std::uint32_t>> members_;    // per shared original: its entries, in order
    std::vector<std::vector<std::uint32_t>> at_;         // per translation of one: positions in members_
    std::vector<std::vector<std::uint32_t>> next_run_;   // per translation: the next gap with entries
};

// The translation written (cut, or whole) must keep the original's printf
// directives.
void directive_findings(const Trans_Tbl* e, std::uint32_t line, std::vector<Finding>& out, bool whole) {
    const char* written = whole ? e->new_name_full : e->new_name;
    DirectiveCheck c = compare_directives(e->org_name, written);
    if (c.mismatch == DirectiveMismatch::none) return;
    const std::string want = directive_list(e->org_name);
    const std::string have = directive_list(written);
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

// The shortcut part of a menu text ("&New\tCtrl+N"): from its first tab on,
// or "".
std::string_view shortcut(std::string_view text) {
    const std::size_t tab = text.find('\t');
    return tab == std::string_view::npos ? std::string_view() : text.substr(tab);
}

// The translation written keeps the line feeds that lay out the original's
// output: the one it begins or ends with, and their number where it has
// several; and the shortcut part after a tab.
void layout_findings(const Trans_Tbl* e, std::uint32_t line, std::vector<Finding>& out, bool whole) {
    const std::string_view original = e->org_name;
    const std::string_view written = whole ? e->new_name_full : e->new_name;
    if (written == original) return;
    auto edge = [&](bool had, bool has, const char* which) {
        if (had && !has) {
            out.push_back({line, Severity::warning, std::string("the translation loses the original's ") + which + " line feed"});
        } else if (!had && has) {
            out.push_back({line, Severity::warning,
                           std::string("the translation adds a ") + which + " line feed, which the original has not"});
        }
    };
    edge(original.starts_with('\n'), written.starts_with('\n'), "leading");
    edge(original.ends_with('\n'), written.ends_with('\n'), "trailing");
    const auto had = std::count(original.begin(), original.end(), '\n');
    const auto has = std::count(written.begin(), written.end(), '\n');
    if (had > 1 && has != had) {
        out.push_back({line, Severity::warning,
                       "the translation has " + std::to_string(has) + " line feeds, the original " + std::to_string(had)});
    }
    const std::string_view was = shortcut(original);
    if (!was.empty() && shortcut(written).empty()) {
        out.push_back({line, Severity::warning, "the translation loses the shortcut " + q(was)});
    }
}

// "never applied: line 3 acts first at its places", of the level asked for
// or else the lowest at which the entry stands; "" when it stands nowhere.
std::string shadow_message(const EntryPlaces& p, std::size_t level, const DictionaryLayout& layout) {
    std::size_t at = level;
    if (p.shadowed_by[at].empty()) {
        at = 0;
        while (at < p.shadowed_by.size() && p.shadowed_by[at].empty()) ++at;
        if (at == p.shadowed_by.size()) return "";
    }
    const std::vector<std::size_t>& by = p.shadowed_by[at];
    std::string lines;
    for (std::size_t k = 0; k < by.size() && k < kNamedRuns; ++k) {
        lines += (k == 0 ? "" : ", ") + std::to_string(line_of(layout, by[k]));
    }
    if (by.size() > kNamedRuns) lines += " and " + std::to_string(by.size() - kNamedRuns) + " more";
    std::string m = "never applied: " + std::string(by.size() == 1 ? "line " : "lines ") + lines +
                    (by.size() == 1 ? " acts" : " act") + " first at its places";
    if (at > level) m += at == 1 ? " (found only with -r)" : " (found only with -R)";
    return m;
}

}  // namespace

void dictionary_findings(const Trans_Tbl* head, const DictionaryLayout& layout, std::vector<Finding>& out,
                         const std::vector<bool>& full_length) {
    Entries entries(head);
    for (const DictionaryLayout::Message& m : layout.messages) {
        std::string text = m.text.substr(0, m.text.find('\n'));
        out.push_back({m.line, Severity::error, "the line gives no entry: " + text});
    }
    for (const DictionaryLayout::Message& m : layout.refused) out.push_back({m.line, Severity::error, m.text});
    if (const DictionaryLayout::LeftOut& l = layout.left_out; l.first_line != 0) {
        const std::size_t all = l.untranslated + l.fuzzy + l.obsolete;
        out.push_back({l.first_line, Severity::note,
                       std::to_string(all) + (all == 1 ? " message gives" : " messages give") + " no entry (" +
                           std::to_string(l.untranslated) + " untranslated, " + std::to_string(l.fuzzy) + " fuzzy, " +
                           std::to_string(l.obsolete) + " obsolete), the first here"});
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
    const Conflicts conflicts(entries.list);
    std::map<std::pair<std::string_view, std::string_view>, std::size_t> first;
    for (std::size_t i = 0; i < entries.list.size(); ++i) {
        const Trans_Tbl* e = entries.list[i];
        const std::uint32_t line = line_of(layout, i);
        if (std::string m = conflicts.message(i, entries.list, layout); !m.empty()) {
            out.push_back({line, Severity::error, std::move(m)});
        }
        auto [at, fresh] = first.emplace(std::pair{std::string_view(e->org_name), std::string_view(e->new_name)}, i);
        if (!fresh) {
            const Trans_Tbl* p = entries.list[at->second];
            std::string m = "repeats line " + std::to_string(line_of(layout, at->second)) +
                            (std::strcmp(p->new_name_full, e->new_name_full) == 0 ? " exactly" : ", cut to the same translation");
            if (std::strcmp(e->org_name, e->new_name) != 0) m += "; it will never be applied";
            out.push_back({line, Severity::warning, m});
        }
        const bool whole = i < full_length.size() && full_length[i];
        const std::size_t room = std::strlen(e->org_name);
        const std::size_t full = std::strlen(e->new_name_full);
        if (full > room && !whole) {
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
        directive_findings(e, line, out, whole);
        layout_findings(e, line, out, whole);
    }
}

void program_findings(const Trans_Tbl* head, const DictionaryLayout& layout, const std::vector<EntryPlaces>& found,
                      int relax, bool wide, std::vector<Finding>& out, const std::vector<std::int64_t>& in_resources) {
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
            if (i < in_resources.size() && in_resources[i] != 0) continue;  // written there
            if (std::string m = shadow_message(p, level, layout); !m.empty()) {
                out.push_back({line, Severity::warning, std::move(m)});
                continue;
            }
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
        if (p.in_code[level] > kCodePlaces) {
            std::string sections;
            for (const std::string& name : p.code_in[level]) sections += (sections.empty() ? "" : ", ") + name;
            out.push_back({line, Severity::error,
                           q(e->org_name) + " is found in " + places(p.in_code[level]) + " in executable sections (" +
                               sections + "): a replacement there changes the program's instructions"});
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

namespace {

// The hotkeys of a menu or dialog text: what follows each & ("&&" is a
// literal ampersand), one UTF-8 character each.
std::vector<std::string> hotkeys(std::string_view text) {
    std::vector<std::string> keys;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '&') continue;
        if (text[i + 1] == '&') {
            ++i;
            continue;
        }
        std::uint32_t cp = 0;
        std::size_t n = static_cast<unsigned char>(text[i + 1]) < 0x80 ? 1 : utf8_sequence(text, i + 1, cp);
        keys.emplace_back(text.substr(i + 1, std::max<std::size_t>(n, 1)));
    }
    return keys;
}

// The key as the user presses it: ASCII letters folded.
std::string folded(std::string key) {
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

std::string key_list(const std::vector<std::string>& keys) {
    std::string out;
    for (const std::string& k : keys) out += (out.empty() ? "" : ", ") + q("&" + k);
    return out;
}

// The characters a control shows: a hotkey's & is none, && is one.
std::size_t characters(std::string_view text) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '&' && i + 1 < text.size()) ++i;  // the & of a hotkey, or the first of &&
        n += (c & 0xC0) != 0x80 || c == '&' ? 1 : 0;
    }
    return n;
}

}  // namespace

void resource_findings(const Trans_Tbl* head, const DictionaryLayout& layout, const ResourcePlaces& places,
                       std::vector<Finding>& out) {
    const Entries entries(head);
    std::vector<Finding> found;
    auto add = [&](std::size_t i, Severity severity, std::string message) {
        const std::uint32_t line = line_of(layout, i);
        for (const Finding& f : found) {
            if (f.line == line && f.message == message) return;
        }
        found.push_back({line, severity, std::move(message)});
    };
    // Each entry once, at its first menu or dialog text.
    std::vector<bool> told(entries.list.size());
    for (const ResourceItem& item : places.items) {
        if (item.entry == kNoEntry || told[item.entry]) continue;
        told[item.entry] = true;
        const Trans_Tbl* e = entries.list[item.entry];
        const std::string_view original = e->org_name;
        const std::string_view translation = e->new_name_full;
        if (original == translation) continue;
        const std::string& where = places.groups[item.group];
        const std::vector<std::string> had = hotkeys(original);
        const std::vector<std::string> has = hotkeys(translation);
        if (!had.empty() && has.empty()) {
            add(item.entry, Severity::warning,
                "the translation " + q(translation) + " loses the hotkey " + q("&" + had.front()) + " (" + where + ")");
        } else if (has.size() > 1 && has.size() > had.size()) {
            add(item.entry, Severity::warning,
                "the translation " + q(translation) + " has " + std::to_string(has.size()) + " hotkeys (" +
                    key_list(has) + "), where one acts; write && for an ampersand (" + where + ")");
        }
        // A shortcut lost is told of every entry, by dictionary_findings.
        const std::string_view was = shortcut(original);
        if (!was.empty()) {
            const std::string_view is = shortcut(translation);
            if (!is.empty() && is != was) {
                add(item.entry, Severity::warning,
                    "the shortcut " + q(was) + " is changed to " + q(is) + " (" + where + ")");
            }
        }
    }
    for (const ResourceItem& item : places.items) {
        if (!item.control || item.entry == kNoEntry) continue;
        const Trans_Tbl* e = entries.list[item.entry];
        const std::size_t was = characters(e->org_name);
        const std::size_t is = characters(e->new_name_full);
        if (2 * is > kLongerHalves * was && is >= was + kLongerBy) {
            add(item.entry, Severity::note,
                "the translation " + q(e->new_name_full) + " has " + std::to_string(is - was) +
                    " characters more than the original's " + std::to_string(was) + ": it may not fit its control (" +
                    places.groups[item.group] + ")");
        }
    }
    // Two texts of one group that share a hotkey after translation, where
    // they did not before.
    auto text_of = [&](const ResourceItem& item) -> std::string_view {
        return item.entry == kNoEntry ? std::string_view(item.text)
                                      : std::string_view(entries.list[item.entry]->new_name_full);
    };
    auto first_key = [](std::string_view text) {
        std::vector<std::string> keys = hotkeys(text);
        return keys.empty() ? std::string() : folded(keys.front());
    };
    std::vector<std::vector<std::size_t>> groups(places.groups.size());
    for (std::size_t a = 0; a < places.items.size(); ++a) groups[places.items[a].group].push_back(a);
    for (std::size_t a = 0; a < places.items.size(); ++a) {
        const ResourceItem& x = places.items[a];
        if (x.entry == kNoEntry) continue;
        const std::string key = first_key(text_of(x));
        if (key.empty()) continue;
        for (std::size_t b : groups[x.group]) {
            const ResourceItem& y = places.items[b];
            if (b == a || first_key(text_of(y)) != key) continue;
            if (first_key(x.text) == first_key(y.text)) continue;  // so in the program already
            std::string other = y.entry == kNoEntry
                                    ? "the untranslated " + q(y.text)
                                    : q(text_of(y)) + " on line " + std::to_string(line_of(layout, y.entry));
            add(x.entry, Severity::warning,
                "the hotkey " + q("&" + hotkeys(text_of(x)).front()) + " of " + q(text_of(x)) + " is also that of " +
                    other + " (" + places.groups[x.group] + ")");
        }
    }
    sort_findings(found);
    out.insert(out.end(), found.begin(), found.end());
}
