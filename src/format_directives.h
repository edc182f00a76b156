// The printf directives of a text (%s, %d, %5.2f, %ld, %%, %1$s, ...): a
// translation must keep them in number, kind and order, or the program may
// print the wrong argument or crash.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct Directive {
    std::size_t at;    // offset of its '%' in the text
    std::size_t size;  // bytes from the '%' through the conversion
    // What it takes from the argument list, e.g. "d" for %d and %5i, "ld"
    // for %ld, "*d" for %*d, "%" for %% (nothing). Two directives of one
    // kind read the same arguments.
    std::string kind;
    int position;      // n of an "n$" directive, 0 otherwise
    bool complete;     // false when the text ends before its conversion
};

// Every directive of text, in order. A '%' followed by no valid directive
// ("50% off" aside, which reads as "% o") gives an incomplete directive
// only when the text ends inside it; otherwise the longest valid prefix
// is taken as written.
std::vector<Directive> format_directives(std::string_view text);

enum class DirectiveMismatch {
    none,
    count,     // not as many
    kind,      // one reads another argument
    order,     // the same kinds, in another order
    cut,       // the text ends inside a directive
};

struct DirectiveCheck {
    DirectiveMismatch mismatch = DirectiveMismatch::none;
    std::size_t index = 0;  // the first directive that differs
};

// Compares the directives of a translation with the original's. With "n$"
// positions in both, each position must keep its kind (the order may change).
DirectiveCheck compare_directives(std::string_view original, std::string_view translation);

// The directives as a text, "%s %d", for messages and the template.
std::string directive_list(std::string_view text);
