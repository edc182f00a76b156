// vorlang-extract: writes a dictionary template for a program, a line for
// every text that vorlang could replace at its strict level.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "extract.h"
#include "file_names.h"
#include "inputs.h"
#include "resource_template.h"
#include "run.h"
#include "standard_streams.h"
#include "text_limits.h"

namespace {

constexpr const char* kToolName = "vorlang-extract";
constexpr std::size_t kDefaultMinText = 4;

// -r and -R are read but change nothing here.
struct Settings : CommonOptions {
    std::optional<std::string> min_text;  // -m
    bool all = false;                     // -a: also the texts the program never shows
};

void usage() {
    std::fprintf(stderr, "---------------------------------------------------------\n");
    std::fprintf(stderr, "Usage:\n   %s [options] > <dictionary>.txt\n", kToolName);
    std::fprintf(stderr, "              [options]:\n");
    std::fprintf(stderr, "                -p <program>         (default: %s)\n", kDefaultProgram);
    std::fprintf(stderr, "                -m <bytes>           shortest text (default: %zu)\n", kDefaultMinText);
    std::fprintf(stderr, "                -d <dictionary>      leave out the texts it translates\n");
    std::fprintf(stderr, "                -t <language>        appends _<language> (alone: <prog>%s_<language>)\n", kDictSuffix);
    std::fprintf(stderr, "                -u                   also the UTF-16 texts\n");
    std::fprintf(stderr, "                -a                   also the names the program never shows\n");
    std::fprintf(stderr, "                -g                   the texts of a Windows program's resources only\n");
    std::fprintf(stderr, "                -l <langid>          with -g: their language, in hex (default: English)\n");
    std::fprintf(stderr, "                -P                   a PO template (POT) for gettext's tools instead\n");
    std::fprintf(stderr, "\n");
    std::fprintf(stderr, "Writes to standard output a dictionary for <prog>.exe that translates\n");
    std::fprintf(stderr, "every text vorlang can replace to itself, in order of first occurrence.\n");
    std::fprintf(stderr, "Names are formed as vorlang forms them (.exe, .txt appended).\n");
    std::fprintf(stderr, "Texts that no dictionary line can hold are written as comments (!#).\n");
    std::fprintf(stderr, "In an ELF or PE program, the texts are grouped by section, and the\n");
    std::fprintf(stderr, "names it links by, its symbols and its debug data are left out.\n");
    std::fprintf(stderr, "Edit the second text of each line and use it with vorlang.\n");
    std::fprintf(stderr, "With -P: a message for every text, with its places and room as comments;\n");
    std::fprintf(stderr, "msginit makes a catalogue of it, msgmerge brings one up to date.\n");
}

Settings read_command_line(int argc, char** argv) {
    Settings s;
    read_options(argc, argv, s, [&s](const std::string& before, const std::string& arg) {
        if (before == "-m") s.min_text = arg;
        if (arg == "-a") s.all = true;
    });
    return s;
}

// The dictionary name as vorlang forms it; none without -d, -w or -t.
std::optional<std::string> dictionary_name(const Settings& s) {
    if (!s.dictionary && !s.language) return std::nullopt;
    return dictionary_file_name(s.program, s.dictionary, s.language);
}

// The value of -m, from 1 to 97, or 0 when it is no such number.
std::size_t min_text(const Settings& s) {
    if (!s.min_text) return kDefaultMinText;
    const std::string& v = *s.min_text;
    if (v.empty() || v.size() > std::to_string(kLongestOriginal).size() || v.find_first_not_of("0123456789") != std::string::npos) return 0;
    std::size_t n = static_cast<std::size_t>(std::atoi(v.c_str()));
    return n <= kLongestOriginal ? n : 0;
}

// The template's date for its header, as xgettext writes it: now, in UTC.
std::string creation_date() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    char date[40];
    if (now == static_cast<std::time_t>(-1) || gmtime_r(&now, &utc) == nullptr ||
        std::strftime(date, sizeof date, "%Y-%m-%d %H:%M+0000", &utc) == 0) {
        return "YEAR-MO-DA HO:MI+ZONE";
    }
    return date;
}

Failure cannot_write() { return {kStatusOutput, "Error: Can't write the template.\n"}; }

RunFailure run(const Settings& s) {
    const std::size_t min_size = min_text(s);
    if (min_size == 0) {
        return Failure{kStatusOption, "Error: -m " + *s.min_text + " is no number from 1 to " +
                                          std::to_string(kLongestOriginal) + ".\n"};
    }
    // -l is read by every program; it matters here only with -g.
    std::vector<std::uint16_t> languages;
    for (const std::string& l : s.resources ? s.languages : std::vector<std::string>{}) {
        const std::optional<std::uint16_t> id = parse_language_id(l);
        if (!id) return Failure{kStatusOption, "Error: -l " + l + " is no language id (hex, e.g. 0409).\n"};
        languages.push_back(*id);
    }
    Inputs in;
    InputPlan plan;
    plan.program = program_file_name(s.program);
    plan.dictionary = dictionary_name(s);
    plan.purpose = "extract";
    plan.refuse_dictionary_as_output = true;
    if (s.resources) {
        plan.read_more_than_once = ": -g reads it by offset, a FIFO only in order";
    } else if (s.wide) {
        plan.read_more_than_once = ": -u reads it twice, a FIFO only once";
    }
    plan.reader_messages = to_standard_error();
    if (RunFailure failed = read_inputs(plan, in)) return failed;

    const ExtractSettings settings{plan.program, plan.dictionary, in.entries.get(), min_size, s.all, s.wide,
                                   s.po, s.po ? creation_date() : std::string()};
    ExtractCounts counts;
    ExtractStatus status = ExtractStatus::ok;
    std::string reason;
    if (s.resources) {
        const ResourceExtract r = extract_resource_template(in.program.file(), settings, languages, stdout,
                                                            [&] { return in.program.read_unchanged(); }, counts);
        status = r.status;
        reason = r.reason;
    } else {
        status = extract_template(in.program.file(), settings, stdout, [&] { return in.program.read_unchanged(); },
                                  counts);
    }
    switch (status) {
        case ExtractStatus::ok:
            break;
        case ExtractStatus::out_of_memory:
            return out_of_memory();
        case ExtractStatus::read_error:
            return Failure{kStatusProgram, "Error: Can't read file " + plan.program + ".\n"};
        case ExtractStatus::write_error:
            return cannot_write();
        case ExtractStatus::no_resources:
            return Failure{kStatusResources,
                           "Error: " + plan.program + " has no resources that -g can read: " + reason + ".\n"};
        case ExtractStatus::no_language:
            return Failure{kStatusResources,
                           "Error: " + plan.program + " has no resources of language " + reason + ".\n"};
    }
    if (!close_standard_output()) return cannot_write();
    if (s.po) {
        std::fprintf(stderr, "Texts of %s: messages %zu", plan.program.c_str(), counts.lines);
        if (counts.not_utf8 != 0) std::fprintf(stderr, ", no UTF-8 %zu", counts.not_utf8);
    } else {
        std::fprintf(stderr, "Texts of %s: lines %zu, comments %zu", plan.program.c_str(), counts.lines, counts.comments);
    }
    if (plan.dictionary) std::fprintf(stderr, ", left out %zu", counts.left_out);
    if (counts.not_shown) std::fprintf(stderr, ", never shown %zu", *counts.not_shown);
    std::fprintf(stderr, ".\n");
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    return run_tool(argc, argv, {kToolName, usage},
                    [](int argc, char** argv) -> RunEnd { return run(read_command_line(argc, argv)); });
}
