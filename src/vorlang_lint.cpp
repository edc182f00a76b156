// vorlang-lint: reads a program and its dictionary as vorlang would and
// tells, line by line, what in the dictionary may break the translated
// program. It writes nothing but its findings and changes no file.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "dictionary.h"
#include "exist_file.h"
#include "file_names.h"
#include "input_file.h"
#include "lint_findings.h"
#include "program_file.h"
#include "program_sections.h"
#include "relax.h"
#include "run_failure.h"
#include "standard_streams.h"
#include "text_places.h"

namespace {

constexpr const char* kToolName = "vorlang-lint";

constexpr int kStatusClean = 0;
constexpr int kStatusWarnings = 1;
constexpr int kStatusErrors = 2;
constexpr int kStatusNotFound = 1;
constexpr int kStatusProgram = -2;
constexpr int kStatusDictionary = -3;
constexpr int kStatusReport = -6;

[[noreturn]] void usage() {
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
    std::fprintf(stderr, "Status: 0 clean, 1 warnings only, 2 errors; 1, -2, -3 as vorlang's\n");
    std::fprintf(stderr, "when the program or the dictionary is missing or unreadable.\n");
    std::exit(kStatusClean);
}

Failure out_of_memory() { return {kStatusDictionary, "Error: out of memory.\n"}; }

struct RunFiles {
    Trans_Tbl* head = nullptr;
    ProgramFile prog;
    ~RunFiles() {
        free_trans(head);
        close_program(prog);
    }
};

// The run's failure, or its status in status.
RunFailure run(const CommonOptions& s, int& status) {
    const std::string dictionary = dictionary_file_name(s.program, s.dictionary, s.language);
    const std::string program = program_file_name(s.program);
    if (is_standard_output(dictionary.c_str())) {
        return Failure{kStatusDictionary, "Error: standard output is the dictionary " + dictionary + ".\n"};
    }
    if (!exist_file(dictionary)) return Failure{kStatusNotFound, "Error: dictionary " + dictionary + " not found!\n"};
    if (!exist_file(program)) return Failure{kStatusNotFound, "Error: program " + program + " not found!\n"};
    RunFiles files;
    // Read once per level, a FIFO could never be read whole again.
    if (is_fifo(program)) return Failure{kStatusProgram, "Error: Can't read file " + program + ".\n"};
    if (!open_program(program, files.prog, false)) {
        return Failure{kStatusProgram, "Error: Can't open file " + program + " to check.\n"};
    }
    DictionaryLayout layout;
    ReadResult read = read_trans_file(dictionary.c_str(), nullptr, &layout);
    if (read.status == ReadStatus::out_of_memory) return out_of_memory();
    files.head = read.head;
    if (files.head == nullptr) {
        return Failure{kStatusDictionary, "Error: Can't open translate file " + dictionary + " (or wrong format).\n"};
    }
    std::vector<Finding> findings;
    dictionary_findings(files.head, layout, findings);
    const ProgramMap map = read_program_map(fileno(files.prog.file));
    std::vector<EntryPlaces> places;
    switch (find_places(files.head, files.prog.file, map, s.wide, places)) {
        case PlacesStatus::ok:
            break;
        case PlacesStatus::out_of_memory:
            return out_of_memory();
        case PlacesStatus::read_error:
            return Failure{kStatusProgram, "Error: Can't read file " + program + ".\n"};
    }
    if (!read_unchanged(files.prog)) return Failure{kStatusProgram, "Error: Can't read file " + program + ".\n"};
    program_findings(files.head, layout, places, s.relax, s.wide, findings);
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
    status = counts[0] != 0 ? kStatusErrors : counts[1] != 0 ? kStatusWarnings : kStatusClean;
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    occupy_closed_standard_streams();
    RunFailure failed;
    int status = kStatusClean;
    try {
        CommonOptions options;
        read_options(argc, argv, options);  // vorlang's other options change nothing here
        if (options.usage) usage();
        failed = run(options, status);
    } catch (const std::bad_alloc&) {
        failed = out_of_memory();
    }
    return failed ? report_failure(*failed) : status;
}
