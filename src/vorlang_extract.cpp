// vorlang-extract: writes a dictionary template for a program, a line for
// every text that vorlang could replace at its strict level.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "command_line.h"
#include "dict_template.h"
#include "dictionary.h"
#include "exist_file.h"
#include "format_directives.h"
#include "input_file.h"
#include "file_names.h"
#include "program_file.h"
#include "program_sections.h"
#include "run_failure.h"
#include "standard_streams.h"
#include "string_scan.h"
#include "wide_scan.h"

namespace {

constexpr const char* kToolName = "vorlang-extract";
constexpr std::size_t kDefaultMinText = 4;

constexpr int kStatusOk = 0;
constexpr int kStatusNotFound = 1;
constexpr int kStatusProgram = -2;
constexpr int kStatusDictionary = -3;
constexpr int kStatusOption = -4;
constexpr int kStatusWrite = -5;

// -r and -R are read but change nothing here.
struct Settings : CommonOptions {
    std::optional<std::string> min_text;  // -m
    bool all = false;                     // -a: also the texts the program never shows
};

[[noreturn]] void usage() {
    std::fprintf(stderr, "---------------------------------------------------------\n");
    std::fprintf(stderr, "Usage:\n   %s [options] > <dictionary>.txt\n", kToolName);
    std::fprintf(stderr, "              [options]:\n");
    std::fprintf(stderr, "                -p <program>         (default: %s)\n", kDefaultProgram);
    std::fprintf(stderr, "                -m <bytes>           shortest text (default: %zu)\n", kDefaultMinText);
    std::fprintf(stderr, "                -d <dictionary>      leave out the texts it translates\n");
    std::fprintf(stderr, "                -t <language>        appends _<language> (alone: <prog>%s_<language>)\n", kDictSuffix);
    std::fprintf(stderr, "                -u                   also the UTF-16 texts\n");
    std::fprintf(stderr, "                -a                   also the names the program never shows\n");
    std::fprintf(stderr, "\n");
    std::fprintf(stderr, "Writes to standard output a dictionary for <prog>.exe that translates\n");
    std::fprintf(stderr, "every text vorlang can replace to itself, in order of first occurrence.\n");
    std::fprintf(stderr, "Names are formed as vorlang forms them (.exe, .txt appended).\n");
    std::fprintf(stderr, "Texts that no dictionary line can hold are written as comments (!#).\n");
    std::fprintf(stderr, "In an ELF or PE program, the texts are grouped by section, and the\n");
    std::fprintf(stderr, "names it links by, its symbols and its debug data are left out.\n");
    std::fprintf(stderr, "Edit the second text of each line and use it with vorlang.\n");
    std::exit(kStatusOk);
}

Settings read_command_line(int argc, char** argv) {
    Settings s;
    read_options(argc, argv, s, [&s](const std::string& before, const std::string& arg) {
        if (before == "-m") s.min_text = arg;
        if (arg == "-a") s.all = true;
    });
    if (s.usage) usage();
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

Failure out_of_memory() { return {kStatusDictionary, "Error: out of memory.\n"}; }

Failure cannot_write() { return {kStatusWrite, "Error: Can't write the template.\n"}; }

// The originals that the dictionary translates.
RunFailure read_known(const std::string& name, std::unordered_set<std::string>& known) {
    ReadResult read = read_trans_file(name.c_str(), stderr);
    if (read.status == ReadStatus::out_of_memory) return out_of_memory();
    if (read.head == nullptr) {
        return Failure{kStatusDictionary, "Error: Can't open translate file " + name + " (or wrong format).\n"};
    }
    RunFailure failed;
    try {
        for (const Trans_Tbl* e = read.head; e != nullptr; e = e->next) known.insert(e->org_name);
    } catch (const std::bad_alloc&) {
        failed = out_of_memory();
    }
    free_trans(read.head);
    return failed;
}

struct Counts {
    std::size_t lines = 0;
    std::size_t comments = 0;
    std::size_t left_out = 0;
    std::size_t not_shown = 0;
};

struct Extract {
    const std::string& program;
    const std::optional<std::string>& dictionary;
    std::size_t min_size;
    const std::unordered_set<std::string>& known;
    const ProgramMap& map;
    bool all;
    std::unordered_set<std::string> seen;
    Counts counts;
    bool headed = false;
    const Section* group = nullptr;  // the section whose comment was written last
    bool grouped = false;
    std::unordered_set<std::string> hidden;  // texts left out where they stood

    // Written with the first text or at the end, so that a program that
    // cannot be read leaves standard output empty.
    void header() {
        if (headed) return;
        headed = true;
        write_comment(stdout, "Dictionary template for ", program);
        if (dictionary) write_comment(stdout, "Leaving out the texts translated in ", *dictionary);
        char about[80];
        std::snprintf(about, sizeof about, "Texts of %zu bytes or more, each translated to itself.", min_size);
        write_comment(stdout, about);
        if (map.format == ProgramFormat::unknown) {
            write_comment(stdout, "The format of the program was not recognised (ELF or PE): every text is listed.");
        } else if (all) {
            write_comment(stdout, "With -a: the names the program never shows are listed too.");
        }
    }

    // The comment that names the section of the text at offset, when it is
    // not the one named last.
    void section(std::uint64_t offset) {
        if (map.format == ProgramFormat::unknown) return;
        const Section* at = section_at(map, offset);
        if (grouped && at == group) return;
        grouped = true;
        group = at;
        // The label for no section is the tool's own words, never quoted as a
        // name with blanks would be.
        if (at != nullptr) {
            write_label(stdout, at->name);
        } else {
            write_comment(stdout, kOutsideSections);
        }
    }

    void text(std::uint64_t offset, std::string_view text) {
        if (!looks_like_text(text, min_size)) return;
        // A text that stands where the program never shows it is listed
        // only where it stands elsewhere as well.
        if (!all && is_hidden(map, offset)) {
            hidden.emplace(text);
            return;
        }
        if (!seen.emplace(text).second) return;
        if (known.count(std::string(text)) != 0) {
            ++counts.left_out;
            return;
        }
        header();
        section(offset);
        TemplateLine t = template_line(text);
        if (t.problem == LineProblem::none && !reads_back({t.line, t.size}, text)) {
            t.problem = LineProblem::no_read_back;
        }
        if (t.problem == LineProblem::none) {
            const std::string directives = directive_list(text);
            if (!directives.empty()) write_comment(stdout, "keep " + directives + " in this order");
            std::fwrite(t.line, 1, t.size, stdout);
            ++counts.lines;
        } else {
            write_problem(stdout, t, text);
            ++counts.comments;
        }
    }
};

// The program file, closed when the run ends.
struct OpenProgram {
    ProgramFile prog;
    ~OpenProgram() { close_program(prog); }
};

RunFailure run(const Settings& s) {
    const std::size_t min_size = min_text(s);
    if (min_size == 0) {
        return Failure{kStatusOption, "Error: -m " + *s.min_text + " is no number from 1 to " +
                                          std::to_string(kLongestOriginal) + ".\n"};
    }
    const std::optional<std::string> dictionary = dictionary_name(s);
    const std::string program = program_file_name(s.program);
    // "> x_trans_nl.txt" with -t nl has emptied the dictionary before the
    // run began: reading it would leave out nothing, and say so wrongly.
    if (dictionary && is_standard_output(dictionary->c_str())) {
        return Failure{kStatusDictionary, "Error: standard output is the dictionary " + *dictionary + ".\n"};
    }
    if (dictionary && !exist_file(*dictionary)) {
        return Failure{kStatusNotFound, "Error: dictionary " + *dictionary + " not found!\n"};
    }
    if (!exist_file(program)) return Failure{kStatusNotFound, "Error: program " + program + " not found!\n"};
    // -u scans the program twice, and a FIFO can be read once: refused
    // before it is opened, which would wait for a writer.
    if (s.wide && is_fifo(program)) {
        return Failure{kStatusProgram, "Error: Can't read file " + program + ": -u reads it twice, a FIFO only once.\n"};
    }
    OpenProgram open;
    if (!open_program(program, open.prog, !s.wide)) {
        return Failure{kStatusProgram, "Error: Can't open file " + program + " to extract.\n"};
    }
    std::unordered_set<std::string> known;
    if (dictionary) {
        if (RunFailure failed = read_known(*dictionary, known)) return failed;
    }

    const ProgramMap map = read_program_map(fileno(open.prog.file));
    Extract extract{program, dictionary, min_size, known, map, s.all, {}, {}, false, nullptr, false, {}};
    bool memory_out = false;
    // With -u the UTF-16 texts are found first, each with the offset where
    // it first stands, and merged into the byte texts by that offset.
    std::FILE* prog = open.prog.file;
    std::vector<std::pair<std::uint64_t, std::string>> wide_texts;
    ScanStatus scanned = ScanStatus::ok;
    if (s.wide) {
        std::unordered_set<std::string> found;
        scanned = scan_wide_strings(prog, [&](std::uint64_t offset, std::string_view text) {
            try {
                if (!s.all && is_hidden(map, offset)) return true;
                if (looks_like_text(text, min_size) && found.emplace(text).second) wide_texts.emplace_back(offset, text);
                return true;
            } catch (const std::bad_alloc&) {
                memory_out = true;
                return false;
            }
        });
        if (scanned == ScanStatus::ok && std::fseek(prog, 0, SEEK_SET) != 0) scanned = ScanStatus::read_error;
    }
    std::size_t next_wide = 0;
    auto texts_before = [&](std::uint64_t offset) {
        for (; next_wide < wide_texts.size() && wide_texts[next_wide].first < offset; ++next_wide) {
            extract.text(wide_texts[next_wide].first, wide_texts[next_wide].second);
        }
    };
    // The scan stops at the first write that fails.
    if (scanned == ScanStatus::ok && !memory_out) {
        scanned = scan_strings(prog, [&](std::uint64_t offset, std::string_view text) {
            try {
                texts_before(offset);
                extract.text(offset, text);
                return std::ferror(stdout) == 0;
            } catch (const std::bad_alloc&) {
                memory_out = true;
                return false;
            }
        });
    }
    if (scanned == ScanStatus::ok && !memory_out) texts_before(UINT64_MAX);
    if (memory_out || scanned == ScanStatus::out_of_memory) return out_of_memory();
    if (scanned == ScanStatus::read_error || (scanned == ScanStatus::ok && !read_unchanged(open.prog))) {
        return Failure{kStatusProgram, "Error: Can't read file " + program + ".\n"};
    }
    if (scanned == ScanStatus::stopped) return cannot_write();
    extract.header();
    if (!close_standard_output()) return cannot_write();
    std::fprintf(stderr, "Texts of %s: lines %zu, comments %zu", program.c_str(), extract.counts.lines,
                 extract.counts.comments);
    if (dictionary) std::fprintf(stderr, ", left out %zu", extract.counts.left_out);
    if (map.format != ProgramFormat::unknown && !s.all) {
        std::size_t not_shown = 0;
        for (const std::string& t : extract.hidden) not_shown += extract.seen.count(t) == 0 ? 1 : 0;
        std::fprintf(stderr, ", never shown %zu", not_shown);
    }
    std::fprintf(stderr, ".\n");
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    occupy_closed_standard_streams();
    RunFailure failed;
    try {
        Settings settings = read_command_line(argc, argv);
        failed = run(settings);
    } catch (const std::bad_alloc&) {
        failed = out_of_memory();
    }
    return failed ? report_failure(*failed) : kStatusOk;
}
