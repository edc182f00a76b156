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
    std::fprintf(stderr, "\n");
    std::fprintf(stderr, "Reads the program and the dictionary as vorlang would, changes nothing,\n");
    std::fprintf(stderr, "and writes one finding per line to standard output:\n");
    std::fprintf(stderr, "  <dictionary>:<line>: <error|warning|note>: <message>\n");
    std::fprintf(stderr, "Status: 0 clean, 1 warnings only, 2 errors; -2 when the program,\n");
    std::fprintf(stderr, "-3 when the dictionary is missing or unreadable.\n");
}

RunEnd run(const CommonOptions& s) {
    const std::string dictionary = dictionary_file_name(s.program, s.dictionary, s.language);
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
    if (RunFailure failed = read_inputs(plan, in)) return failed;
    const Trans_Tbl* head = in.entries.get();
    std::vector<Finding> findings;
    dictionary_findings(head, layout, findings);
    const ProgramMap map = read_program_map(fileno(in.program.file()));
    std::vector<EntryPlaces> places;
    switch (find_places(in.entries.get(), in.program.file(), map, s.wide, places)) {
        case PlacesStatus::ok:
            break;
        case PlacesStatus::out_of_memory:
            return out_of_memory();
        case PlacesStatus::read_error:
            return Failure{kStatusProgram, "Error: Can't read file " + program + ".\n"};
    }
    if (!in.program.read_unchanged()) return Failure{kStatusProgram, "Error: Can't read file " + program + ".\n"};
    program_findings(head, layout, places, s.relax, s.wide, findings);
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
