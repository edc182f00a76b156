// The extract: a template line for every text of a program that vorlang
// could replace at its strict level, once each in order of first
// occurrence. In an ELF or PE program the lines are grouped by section and
// the texts that stand only where the program never shows them are left
// out; with wide, the UTF-16 texts are merged in by their first offset.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "dictionary.h"

struct ExtractSettings {
    std::string program;                    // its file name, for the header
    std::optional<std::string> dictionary;  // its file name, when its texts are left out
    const Trans_Tbl* known = nullptr;       // the dictionary's entries: their originals are left out
    std::size_t min_size = 4;               // the shortest text
    bool all = false;                       // also the texts the program never shows
    bool wide = false;                      // also the UTF-16 texts
    bool po = false;                        // a PO template (POT) instead of a dictionary template
    std::string creation_date;              // with po: the header's POT-Creation-Date
};

struct ExtractCounts {
    std::size_t lines = 0;  // with po: the messages
    std::size_t comments = 0;
    std::size_t left_out = 0;  // translated in the dictionary
    std::size_t not_utf8 = 0;  // with po: left out, as no UTF-8 text can hold them
    // The texts that stand only where the program never shows them; counted
    // when the format is known and they were left out.
    std::optional<std::size_t> not_shown;
};

enum class ExtractStatus {
    ok,
    read_error,
    write_error,
    out_of_memory,
    no_resources,  // resources only: no PE program, or its resources do not parse
    no_language,   // resources only: none of the languages asked for
};

// The header comments of a PO template that say what it holds.
std::vector<std::string> po_notes(const ExtractSettings& settings);

// Reads prog (from its start; with wide twice) and writes the template to
// out, stopping at the first write that fails. The header comes with the
// first line, or at the end once read_whole has said the program was read
// whole: a program that cannot be read leaves out empty. A PO template is
// written whole once the program was read whole.
ExtractStatus extract_template(std::FILE* prog, const ExtractSettings& settings, std::FILE* out,
                               const std::function<bool()>& read_whole, ExtractCounts& counts);
