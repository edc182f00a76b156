// The driver: command line, file names, the run sequence, the report and the
// usage text.
#include <sys/stat.h>

#include <csignal>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "dictionary.h"
#include "exist_file.h"
#include "output_file.h"
#include "translator.h"
#include "wide_text.h"

namespace {

constexpr const char* kToolName = "vorlang";
constexpr const char* kDefaultProgram = "dornevo";
constexpr const char* kDictSuffix = "_trans";

constexpr int kStatusOk = 0;
constexpr int kStatusNotFound = 1;
constexpr int kStatusInconsistent = -1;
constexpr int kStatusProgram = -2;
constexpr int kStatusDictionary = -3;
constexpr int kStatusOutput = -5;

struct Settings {
    std::string program = kDefaultProgram;
    std::string dictionary;
    std::string output;
    std::optional<std::string> language;
    int relax = kRelaxStrict;
    bool check_only = false;
    bool wide = false;  // also the UTF-16 texts
};

[[noreturn]] void usage() {
    std::fprintf(stderr, "---------------------------------------------------------\n");
    std::fprintf(stderr, "Usage:\n   %s [options]\n", kToolName);
    std::fprintf(stderr, "              [options]:\n");
    std::fprintf(stderr, "                -c                    check only\n");
    std::fprintf(stderr, "                -r                   relax translation (more translated) \n");
    std::fprintf(stderr, "                -R                   relax translation (even more translated) \n");
    std::fprintf(stderr, "                -t <language>        (default: see below)\n");
    std::fprintf(stderr, "                -p <program>         (default: %s)\n", kDefaultProgram);
    std::fprintf(stderr, "                -d <dictionary>      (default: <prog>%s)\n", kDictSuffix);
    std::fprintf(stderr, "                -o <outputfile>      (default: <prog>_t)\n");
    std::fprintf(stderr, "\n");
    std::fprintf(stderr, "Without options %s is translated to %s_t using %s%s.txt\n", kDefaultProgram,
                 kDefaultProgram, kDefaultProgram, kDictSuffix);
    std::fprintf(stderr, "\n");
    std::fprintf(stderr, "\nContent translate file:\n");
    std::fprintf(stderr, "<org_name> <spaces, tabs> <new_name>\n\n");
    std::fprintf(stderr, "E.g.\n");
    std::fprintf(stderr, "Enable Aanzetten\n\n");
    std::fprintf(stderr, "If name contains spaces use \", e.g.:\n");
    std::fprintf(stderr, "\"Browse src dir.\"   \"Blader src map.\"\n\n");
    std::fprintf(stderr, "Menus contain invisible chars which you need to add:\n\n");
    std::fprintf(stderr, "/File       /Bestand\n");
    std::fprintf(stderr, "File/Quit   Best/Weg\n\n");
    std::fprintf(stderr, "Note: Replacement may not exceed length original.\n\n");
    std::fprintf(stderr, "      In prev. example 'Bestand' will be cut to 'Best'.\n\n");
    std::fprintf(stderr, "Spaces in name: Enclose between \"\".\n\n");
    std::fprintf(stderr, "Note about -r / -R options:\n");
    std::fprintf(stderr, "  Search is done on text, preceeded and followed by '0'.\n");
    std::fprintf(stderr, "  With -r check for non-alphanum. preceeding character.\n");
    std::fprintf(stderr, "  With -R no check on preceeded character at all.\n");
    std::fprintf(stderr, "  Possibly higher risc in translating something what shouldn't be translated!\n");
    std::exit(kStatusOk);
}

// An option's value is the argument after it, and that argument is still
// examined as an option itself.
Settings read_command_line(int argc, char** argv) {
    Settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const std::string before = argv[i - 1] != nullptr ? argv[i - 1] : "";
        if (arg == "-h") usage();
        if (before == "-t") s.language = arg;
        if (before == "-p") s.program = arg;
        if (before == "-d" || before == "-w") s.dictionary = arg;
        if (before == "-o") s.output = arg;
        if (arg == "-r") s.relax = kRelaxNonAlnum;
        if (arg == "-R") s.relax = kRelaxAny;
        if (arg == "-c") s.check_only = true;
        if (arg == "-u") s.wide = true;
    }
    return s;
}

// Forms the three names and writes the program and dictionary names.
void form_names(Settings& s) {
    if (s.dictionary.empty()) s.dictionary = s.program + kDictSuffix;
    if (s.language) s.dictionary += "_" + *s.language;
    s.dictionary += ".txt";
    std::printf("Program   =%s\n", s.program.c_str());
    std::printf("Dictionary=%s\n", s.dictionary.c_str());
    if (s.output.empty()) s.output = s.program + "_t";
    s.program += ".exe";
    s.output += ".exe";
}

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

void entry_line(std::int64_t count, const Trans_Tbl* e) {
    std::printf("%" PRId64 "x  %s -> %s\n", count, e->org_name, e->new_name);
}

void report(const Trans_Tbl* head, int relax, const std::string& output) {
    std::printf("Translated:\n");
    bool all_used = true;
    for (const Trans_Tbl* e = head; e != nullptr; e = e->next) {
        entry_line(e->n_trans, e);
        all_used = all_used && e->n_trans != 0;
    }
    if (relax != kRelaxStrict) {
        std::printf("Translated with risc (text not preceeded by '0'):\n");
        for (const Trans_Tbl* e = head; e != nullptr; e = e->next) {
            if (e->n_risc != 0) entry_line(e->n_risc, e);
        }
    }
    if (all_used) {
        std::printf("Translation complete: %s.\n", output.c_str());
        return;
    }
    std::printf("Not translated:\n");
    for (const Trans_Tbl* e = head; e != nullptr; e = e->next) {
        if (e->n_trans == 0) entry_line(0, e);
    }
}

int cannot_write(const std::string& output) {
    std::fflush(stdout);
    std::fprintf(stderr, "Error: Can't write %s.\n", output.c_str());
    return kStatusOutput;
}

int out_of_memory() {
    std::fflush(stdout);
    std::fprintf(stderr, "Error: out of memory.\n");
    return kStatusDictionary;
}

// The entries that the wide pass cannot seek.
void warn_not_wide(const Trans_Tbl* head) {
    for (const Trans_Tbl* e = head; e != nullptr; e = e->next) {
        if (!has_wide_form(e)) std::printf("Warn: '%s' is no UTF-8 text: not sought as UTF-16.\n", e->org_name);
    }
}

// The entry list lives until the run ends.
struct ListOwner {
    Trans_Tbl* head = nullptr;
    ~ListOwner() { free_trans(head); }
};

int run(Settings& s) {
    form_names(s);
    if (!exist_file(s.dictionary)) {
        std::printf("Error: dictionary %s not found!\n", s.dictionary.c_str());
        return kStatusNotFound;
    }
    if (!exist_file(s.program)) {
        std::printf("Error: program %s not found!\n", s.program.c_str());
        return kStatusNotFound;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> owned_prog(std::fopen(s.program.c_str(), "rb"),
                                                              std::fclose);
    std::FILE* prog = owned_prog.get();
    if (prog == nullptr) {
        std::fprintf(stderr, "Error: Can't open file %s to translate.\n", s.program.c_str());
        return kStatusProgram;
    }
    ReadResult read = read_trans_file(s.dictionary.c_str());
    if (read.status == ReadStatus::out_of_memory) return out_of_memory();
    ListOwner dict{read.head};
    if (dict.head == nullptr) {
        std::fprintf(stderr, "Error: Can't open translate file %s (or wrong format).\n",
                     s.dictionary.c_str());
        return kStatusDictionary;
    }
    int errors = check_trans(dict.head);
    if (errors == kCheckOutOfMemory) return out_of_memory();
    if (s.wide) warn_not_wide(dict.head);
    if (errors != 0) return kStatusInconsistent;
    if (s.check_only) return kStatusOk;
    if (same_file(s.output, s.program)) {
        std::fprintf(stderr, "Error: output %s would overwrite the program to translate.\n",
                     s.output.c_str());
        return kStatusOutput;
    }
    PendingOutput out;
    OutputStatus opened = open_output(s.output, out);
    if (opened == OutputStatus::out_of_memory) return out_of_memory();
    if (opened != OutputStatus::ok) {
        std::fprintf(stderr, "Error: Can't open %s for write.\n", s.output.c_str());
        return kStatusOutput;
    }
    TranslateStatus status = translate(dict.head, prog, out.file, s.relax, s.wide);
    out.file = nullptr;  // the translator has closed it
    if (status != TranslateStatus::ok) {
        discard_output(out);
        if (status == TranslateStatus::out_of_memory) return out_of_memory();
        if (status == TranslateStatus::read_error) {
            std::fprintf(stderr, "Error: Can't read file %s to translate.\n", s.program.c_str());
            return kStatusProgram;
        }
        return cannot_write(s.output);
    }
    if (!commit_output(out)) return cannot_write(s.output);
    report(dict.head, s.relax, s.output);
    return kStatusOk;
}

}  // namespace

int main(int argc, char** argv) {
    // Past a file-size limit a write then fails and is reported, instead of
    // the process being killed with the temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        Settings settings = read_command_line(argc, argv);
        return run(settings);
    } catch (const std::bad_alloc&) {
        return out_of_memory();
    }
}
