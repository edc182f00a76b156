// The printf directives of a text (%s, %d, %5.2f, %ld, %%, %1$s, ...): a
// translation must keep those that read arguments in number, kind and
// order, or the program may print the wrong argument or crash.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct Directive {
    std::size_t at = 0;    // offset of its '%' in the text
    std::size_t size = 0;  // bytes from the '%' through the conversion
    // What it reads from the argument list: an int for each star ("*", or
    // "*2$" with a position), then the length and the conversion's class.
    // "d" for %d and %5i, "ld" for %ld, "u" for %u %o %x %X, "f" for %f and
    // the other doubles, "Lf" for long ones, "ls" for %ls and %S, "*d" for
    // %*d. Two directives of one kind read the same arguments.
    // "%" for %% and "m" for %m, which read none. "?" for a '%' followed by a
    // byte that cannot continue a directive: it ends before that byte.
    // "" when the text ends inside the directive.
    std::string kind;
    int position = 0;      // n of an "n$" directive, 0 otherwise
    bool complete = true;  // false when the text ends before its conversion
};

// Every directive of text, in order: each '%' starts one or lies inside one.
// Texts are bytes; a 0 byte is an ordinary byte here.
std::vector<Directive> format_directives(std::string_view text);

enum class DirectiveMismatch {
    none,
    count,  // not as many
    kind,   // one reads another argument
    order,  // the same kinds, in another order
    cut,    // the text ends inside a directive
};

constexpr std::size_t kNoDirective = static_cast<std::size_t>(-1);

struct DirectiveCheck {
    DirectiveMismatch mismatch = DirectiveMismatch::none;
    // The first directives that differ, as indexes into format_directives()
    // of each text; kNoDirective where that text has none to pair.
    std::size_t original = kNoDirective;
    std::size_t translation = kNoDirective;
};

// Compares the directives of a translation with the original's; %% is left
// out, as a translation may write the percent sign otherwise. With "n$"
// positions, each argument must be read as the same kind (the order may
// change); when one text has none, its directives read the arguments in
// turn. Pass the translation as it will be written, cut to the original's
// length, so that a directive cut in two is seen.
DirectiveCheck compare_directives(std::string_view original, std::string_view translation);

// The compared directives as written, space separated ("%s %d"), for
// messages such as "keep %s %d in this order".
std::string directive_list(std::string_view text);
