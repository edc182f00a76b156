// vorlang-lint: reads a program and its dictionary as vorlang would and
// tells, line by line, what in the dictionary may break the translated
// program. It writes nothing but its findings and changes no file.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "dictionary.h"
#include "file_names.h"
#include "inputs.h"
#include "lint_findings.h"
#include "program_sections.h"
#include "relax.h"
#include "resource_places.h"
#include "resource_template.h"
#include "run.h"
#include "standard_streams.h"
#include "text_places.h"

namespace {

constexpr const char* kToolName = "vorlang-lint";

// A run that found what it looked for ends with one of these.
constexpr int kStatusClean = 0;
constexpr int kStatusWarnings = 1;
constexpr int kStatusErrors = 2;

void usage() {
    std::fprintf(stderr, "---------------------------------------------------------\n");
    std::fprintf(stderr, "Usage:\n   %s [options]\n", kToolName);
    std::fprintf(stderr, "              [options]:\n");
    std::fprintf(stderr, "                -p <program>         (default: %s)\n", kDefaultProgram);
    std::fprintf(stderr, "                -d <dictionary>      (default: <prog>%s)\n", kDictSuffix);
    std::fprintf(stderr, "                -t <language>        appends _<language>\n");
    std::fprintf(stderr, "                -r, -R               the relax level vorlang will use\n");
    std::fprintf(stderr, "                -u                   also the UTF-16 texts\n");
    std::fprintf(stderr, "                -g                   a Windows program's resources as vorlang -g\n");
    std::fprintf(stderr, "                                     writes them: whole, hotkeys and shortcuts checked\n");
    std::fprintf(stderr, "                -l <language>        with -g: only this resource language (hex, e.g. 0409)\n");
    std::fprintf(stderr, "                -P                   the dictionary is a PO catalogue (<dictionary>.po)\n");
    std::fprintf(stderr, "\n");
    std::fprintf(stderr, "Reads the program and the dictionary as vorlang would, changes nothing,\n");
    std::fprintf(stderr, "and writes one finding per line to standard output:\n");
    std::fprintf(stderr, "  <dictionary>:<line>: <error|warning|note>: <message>\n");
    std::fprintf(stderr, "Status: 0 clean, 1 warnings only, 2 errors; -2 when the program,\n");
    std::fprintf(stderr, "-3 when the dictionary is missing or unreadable; with -g, -7 when the\n");
    std::fprintf(stderr, "program has no resources that -g can read.\n");
}

RunEnd run(const CommonOptions& s) {
    // -l is read by every program; it matters here only with -g.
    std::vector<std::uint16_t> languages;
    for (const std::string& l : s.resources ? s.languages : std::vector<std::string>{}) {
        const std::optional<std::uint16_t> id = parse_language_id(l);
        if (!id) return Failure{kStatusOption, "Error: -l " + l + " is no language id (hex, e.g. 0409).\n"};
        languages.push_back(*id);
    }
    const std::string dictionary = dictionary_file_name(s.program, s.dictionary, s.language, s.po);
    const std::string program = program_file_name(s.program);
    DictionaryLayout layout;
    Inputs in;
    InputPlan plan;
    plan.program = program;
    plan.dictionary = dictionary;
    plan.purpose = "check";
    // A missing file is told from warnings by its status, as an unreadable one is.
    plan.missing_dictionary = kStatusDictionary;
    plan.missing_program = kStatusProgram;
    plan.refuse_dictionary_as_output = true;
    plan.read_more_than_once = "";  // once per level: a FIFO could never be read whole again
    plan.layout = &layout;
    plan.po = s.po;
    if (RunFailure failed = read_inputs(plan, in)) return failed;
    const Trans_Tbl* head = in.entries.get();
    std::vector<Finding> findings;
    ResourcePlaces resources;
    if (s.resources) {
        std::string reason;
        switch (find_resource_places(head, in.program.file(), languages, resources, reason)) {
            case ResourcePlacesStatus::ok:
                break;
            case ResourcePlacesStatus::out_of_memory:
                return out_of_memory();
            case ResourcePlacesStatus::unreadable:
                return Failure{kStatusResources,
                               "Error: " + program + " has no resources that -g can read: " + reason + ".\n"};
        }
    }
    const ProgramMap map = read_program_map(fileno(in.program.file()));
    std::vector<EntryPlaces> places;
    switch (find_places(in.entries.get(), in.program.file(), map, s.wide, places, resources.section_begin,
                        resources.section_end)) {
        case PlacesStatus::ok:
            break;
        case PlacesStatus::out_of_memory:
            return out_of_memory();
        case PlacesStatus::read_error:
            return Failure{kStatusProgram, "Error: Can't read file " + program + ".\n"};
    }
    if (!in.program.read_unchanged()) return Failure{kStatusProgram, "Error: Can't read file " + program + ".\n"};
    // An entry that lands only in resources is written whole.
    std::vector<bool> full_length(places.size());
    for (std::size_t i = 0; i < resources.found.size() && i < places.size(); ++i) {
        full_length[i] = resources.found[i] != 0 && places[i].found[search_level(s.relax)] == 0;
    }
    dictionary_findings(head, layout, findings, full_length);
    program_findings(head, layout, places, s.relax, s.wide, findings, resources.found);
    if (s.resources) resource_findings(head, layout, resources, findings);
    sort_findings(findings);
    std::size_t counts[3] = {};  // by severity
    for (const Finding& f : findings) {
        const std::string line = finding_line(dictionary, f) + "\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
        ++counts[static_cast<int>(f.severity)];
    }
    if (!close_standard_output()) return Failure{kStatusReport, "Error: Can't write the findings.\n"};
    auto count = [](std::size_t n, const char* what) {
        return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
    };
    std::fprintf(stderr, "%s: %s, %s, %s.\n", dictionary.c_str(), count(counts[0], "error").c_str(),
                 count(counts[1], "warning").c_str(), count(counts[2], "note").c_str());
    return RunEnd::succeeded(counts[0] != 0 ? kStatusErrors : counts[1] != 0 ? kStatusWarnings : kStatusClean);
}

}  // namespace

int main(int argc, char** argv) {
    return run_tool(argc, argv, {kToolName, usage}, [](int argc, char** argv) {
        CommonOptions options;
        read_options(argc, argv, options);  // vorlang's other options change nothing here
        return run(options);
    });
}
