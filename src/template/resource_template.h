// The extract of a Windows program's resources: a template line for every
// text of its menus, dialogs, string tables, message tables and version
// information, read by their structure, in one language, resource by
// resource; no id word, no other language and no machine code gets in.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "extract.h"
#include "resource_tree.h"

// The tag of a common language id (0x0409 "en-US"), or "" for others.
std::string language_tag(std::uint32_t id);

// "menu 2, en-US": the kind, the name or id and the language of a resource
// with texts, as the template's comments and the lint's findings name it.
std::string resource_heading(const ResourceEntry& e);

// The language id that -l gives in hex ("0409"), or nothing when arg is
// no such id (1 to 4 hex digits).
std::optional<std::uint16_t> parse_language_id(const std::string& arg);

struct ResourceExtract {
    ExtractStatus status = ExtractStatus::ok;
    // Why there is no template (no_resources, no_language), for the report.
    std::string reason;
    std::uint16_t language = 0;  // the one taken
};

// Reads prog, a PE program, and writes the template of its resources of
// one language to out: the first of languages the program has, or with
// none given, its English (0x0409 first, then any of primary language 9),
// else its first language in tree order that is not neutral, together
// with its language-neutral resources. Every resource taken is read before the first line is written, so that a program whose
// resources do not parse leaves out empty; read_whole is asked once the
// program was read. The settings' wide and all are not used.
ResourceExtract extract_resource_template(std::FILE* prog, const ExtractSettings& settings,
                                          const std::vector<std::uint16_t>& languages, std::FILE* out,
                                          const std::function<bool()>& read_whole, ExtractCounts& counts);
