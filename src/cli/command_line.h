// How every program reads its command line: an option's value is the
// argument after it, and that argument is still examined as an option
// itself; other arguments are ignored.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "file_names.h"
#include "relax.h"

// The options that name the files and choose the matching, read alike by
// every program.
struct CommonOptions {
    std::string program = kDefaultProgram;  // -p
    std::optional<std::string> dictionary;  // -d or -w
    std::optional<std::string> language;    // -t
    int relax = kRelaxStrict;               // -r, -R
    bool wide = false;                      // -u: also the UTF-16 texts
    bool resources = false;                 // -g: a Windows program's resources by their structure
    std::vector<std::string> languages;     // -l: the resource languages to take (hex ids), all when none
    bool po = false;                        // -P: the dictionary is a PO catalogue
};

// Reads the common options into common and hands every argument, with the
// one before it ("" for the first), to own as well. -h, --help and
// --version never get here: run_tool answers them (see run.h).
void read_options(int argc, char** argv, CommonOptions& common,
                  const std::function<void(const std::string& before, const std::string& arg)>& own = {});
