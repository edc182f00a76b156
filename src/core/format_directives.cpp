#include "format_directives.h"

#include <algorithm>
#include <cstring>

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Whether c is one of set; a 0 byte is none (strchr would find the end).
bool is_one_of(char c, const char* set) { return c != '\0' && std::strchr(set, c) != nullptr; }

// Reads the digits at t[i]. The value stops growing far beyond any count of
// arguments, so that it cannot overflow.
int read_number(std::string_view t, std::size_t& i) {
    int n = 0;
    for (; i < t.size() && is_digit(t[i]); ++i) n = std::min(n * 10 + (t[i] - '0'), 1000000);
    return n;
}

// Reads "n$" at t[i]: n, or 0 (and i unmoved) when there is none.
int read_position(std::string_view t, std::size_t& i) {
    std::size_t j = i;
    int n = read_number(t, j);
    if (n == 0 || j == t.size() || t[j] != '$') return 0;
    i = j + 1;
    return n;
}

// Reads a width or precision, digits or a star; a star adds to kind the int
// it reads.
void read_amount(std::string_view t, std::size_t& i, std::string& kind) {
    if (i == t.size() || t[i] != '*') {
        read_number(t, i);
        return;
    }
    ++i;
    kind += '*';
    if (int m = read_position(t, i)) kind += std::to_string(m) + '$';
}

// The class of a conversion: what it reads before the length refines it.
char class_of(char conversion) {
    if (is_one_of(conversion, "di")) return 'd';
    if (is_one_of(conversion, "ouxX")) return 'u';
    if (is_one_of(conversion, "eEfFgGaA")) return 'f';
    if (is_one_of(conversion, "cspnm%")) return conversion;
    if (conversion == 'C') return 'c';
    if (conversion == 'S') return 's';
    return 0;
}

// The kind of a conversion with its length, spellings of one size merged.
std::string kind_of(std::string_view length, char conversion) {
    char c = class_of(conversion);
    if (c == '%' || c == 'm') return std::string(1, c);
    if (conversion == 'C' || conversion == 'S') length = "l";
    if (length == "q" || length == "L") length = "ll";
    if (length == "Z") length = "z";
    // A double is promoted already; l changes nothing, ll and L mean long double.
    if (c == 'f') length = length == "ll" ? "L" : length == "l" ? "" : length;
    std::string kind(length);
    kind += c;
    return kind;
}

Directive read_directive(std::string_view t, std::size_t at) {
    Directive d;
    d.at = at;
    std::size_t i = at + 1;
    d.position = read_position(t, i);
    while (i < t.size() && is_one_of(t[i], "-+ #0'I")) ++i;
    std::string stars;
    read_amount(t, i, stars);
    if (i < t.size() && t[i] == '.') read_amount(t, ++i, stars);
    std::string_view length;
    if (i + 1 < t.size() && is_one_of(t[i], "hl") && t[i + 1] == t[i]) {
        length = t.substr(i, 2);
        i += 2;
    } else if (i < t.size() && is_one_of(t[i], "hlLqjzZt")) {
        length = t.substr(i++, 1);
    }
    if (i == t.size()) {
        d.complete = false;
    } else if (class_of(t[i]) == 0) {
        d.kind = "?";
    } else {
        d.kind = std::move(stars);
        d.kind += kind_of(length, t[i++]);
    }
    d.size = i - at;
    return d;
}

// Indexes of the directives a translation must keep: all but %%.
std::vector<std::size_t> kept(const std::vector<Directive>& ds) {
    std::vector<std::size_t> out;
    for (std::size_t k = 0; k < ds.size(); ++k) {
        if (ds[k].kind != "%") out.push_back(k);
    }
    return out;
}

bool has_positions(const std::vector<Directive>& ds) {
    return std::any_of(ds.begin(), ds.end(), [](const Directive& d) { return d.position > 0; });
}

// Gives directives without "n$" the arguments they read in turn: a star
// takes one, then the conversion. So they compare with positioned ones.
void number_in_turn(std::vector<Directive>& ds) {
    int next = 1;
    for (Directive& d : ds) {
        if (d.kind == "%" || d.kind == "m" || d.kind == "?" || d.kind.empty()) continue;
        std::string kind;
        for (char c : d.kind) {
            kind += c;
            if (c == '*') kind += std::to_string(next++) + '$';
        }
        d.kind = kind;
        d.position = next++;
    }
}

std::vector<std::string> sorted_kinds(const std::vector<Directive>& ds, const std::vector<std::size_t>& ks) {
    std::vector<std::string> out;
    for (std::size_t k : ks) out.push_back(ds[k].kind);
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

std::vector<Directive> format_directives(std::string_view text) {
    std::vector<Directive> out;
    for (std::size_t p = text.find('%'); p != std::string_view::npos; p = text.find('%', p)) {
        out.push_back(read_directive(text, p));
        p += out.back().size;
    }
    return out;
}

DirectiveCheck compare_directives(std::string_view original, std::string_view translation) {
    std::vector<Directive> ds = format_directives(original);
    std::vector<Directive> ts = format_directives(translation);
    std::vector<std::size_t> a = kept(ds);
    std::vector<std::size_t> b = kept(ts);
    auto nth = [](const std::vector<std::size_t>& v, std::size_t k) { return k < v.size() ? v[k] : kNoDirective; };

    // When the original, too, ends inside a directive, the translation's is
    // no directive cut in two; the kinds (both "") then agree.
    if (!b.empty() && !ts[b.back()].complete && (a.empty() || ds[a.back()].complete)) {
        return {DirectiveMismatch::cut, nth(a, b.size() - 1), b.back()};
    }
    const bool by_position = has_positions(ds) || has_positions(ts);
    if (by_position) {
        if (!has_positions(ds)) number_in_turn(ds);
        if (!has_positions(ts)) number_in_turn(ts);
        auto sort = [](std::vector<std::size_t>& v, const std::vector<Directive>& of) {
            std::stable_sort(v.begin(), v.end(),
                             [&of](std::size_t x, std::size_t y) { return of[x].position < of[y].position; });
        };
        sort(a, ds);
        sort(b, ts);
    }
    std::size_t k = 0;
    auto same = [&](std::size_t x, std::size_t y) {
        return ds[x].kind == ts[y].kind && (!by_position || ds[x].position == ts[y].position);
    };
    while (k < a.size() && k < b.size() && same(a[k], b[k])) ++k;
    if (a.size() != b.size()) return {DirectiveMismatch::count, nth(a, k), nth(b, k)};
    if (k == a.size()) return {};
    // Sequential directives take their arguments in turn: the same kinds
    // elsewhere are in another order. Positioned ones may move freely.
    bool same_kinds = !by_position && sorted_kinds(ds, a) == sorted_kinds(ts, b);
    return {same_kinds ? DirectiveMismatch::order : DirectiveMismatch::kind, a[k], b[k]};
}

std::string directive_list(std::string_view text) {
    std::string list;
    const std::vector<Directive> ds = format_directives(text);
    for (std::size_t k : kept(ds)) {
        if (!list.empty()) list += ' ';
        list += text.substr(ds[k].at, ds[k].size);
    }
    return list;
}
