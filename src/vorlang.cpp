// The driver: command line, file names, the run sequence, the report and the
// usage text.
#include <sys/stat.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "command_line.h"
#include "dictionary.h"
#include "file_names.h"
#include "inputs.h"
#include "output_file.h"
#include "run.h"
#include "standard_streams.h"
#include "translator.h"
#include "wide_text.h"

namespace {

constexpr const char* kToolName = "vorlang";

struct Settings : CommonOptions {
    std::string output;  // -o
    bool check_only = false;
    std::string dictionary_file;  // formed from the options
};

void usage() {
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
}

Settings read_command_line(int argc, char** argv) {
    Settings s;
    read_options(argc, argv, s, [&s](const std::string& before, const std::string& arg) {
        if (before == "-o") s.output = arg;
        if (arg == "-c") s.check_only = true;
    });
    return s;
}

// Forms the three names and writes the program and dictionary names.
void form_names(Settings& s) {
    s.dictionary_file = dictionary_file_name(s.program, s.dictionary, s.language, s.po);
    std::printf("Program   =%s\n", s.program.c_str());
    std::printf("Dictionary=%s\n", s.dictionary_file.c_str());
    s.output = output_file_name(s.program, s.output);
    s.program = program_file_name(s.program);
}

// The report has a line per entry, tens of thousands for a large dictionary:
// printf, reading its format anew for each, cost a third of a run that scans
// nothing. The lines are put together here by hand and go out in large
// writes, after everything else the run wrote to standard output.
struct ReportOut {
    char data[1 << 16];
    std::size_t used = 0;

    void flush() {
        std::fwrite(data, 1, used, stdout);
        used = 0;
    }

    void put(std::string_view text) {
        if (text.size() > sizeof data - used) {
            flush();
            if (text.size() > sizeof data) {
                std::fwrite(text.data(), 1, text.size(), stdout);
                return;
            }
        }
        std::memcpy(data + used, text.data(), text.size());
        used += text.size();
    }

    // "<count>x  <original> -> <translation>"
    void entry(std::int64_t count, const char* original, const char* translation) {
        char digits[24];
        const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, count);
        put({digits, static_cast<std::size_t>(end.ptr - digits)});
        put("x  ");
        put(original);
        put(" -> ");
        put(translation);
        put("\n");
    }

    ~ReportOut() { flush(); }
};

// With -g, the entries written at their full length in the resources.
void report_full(ReportOut& out, const Trans_Tbl* head, const std::vector<std::int64_t>& full_counts) {
    out.put("Translated in full in the resources:\n");
    std::size_t i = 0;
    for (const Trans_Tbl* e = head; e != nullptr; e = e->next, ++i) {
        if (i < full_counts.size() && full_counts[i] != 0) out.entry(full_counts[i], e->org_name, e->new_name_full);
    }
}

void report(const Trans_Tbl* head, int relax, const std::string& output,
            const std::optional<std::vector<std::int64_t>>& full_counts) {
    ReportOut out;
    out.put("Translated:\n");
    bool all_used = true;
    for (const Trans_Tbl* e = head; e != nullptr; e = e->next) {
        out.entry(e->n_trans, e->org_name, e->new_name);
        all_used = all_used && e->n_trans != 0;
    }
    if (relax != kRelaxStrict) {
        out.put("Translated with risc (text not preceeded by '0'):\n");
        for (const Trans_Tbl* e = head; e != nullptr; e = e->next) {
            if (e->n_risc != 0) out.entry(e->n_risc, e->org_name, e->new_name);
        }
    }
    if (full_counts) report_full(out, head, *full_counts);
    if (all_used) {
        out.put("Translation complete: ");
        out.put(output);
        out.put(".\n");
        return;
    }
    out.put("Not translated:\n");
    for (const Trans_Tbl* e = head; e != nullptr; e = e->next) {
        if (e->n_trans == 0) out.entry(0, e->org_name, e->new_name);
    }
}

// The entries that the wide pass cannot seek.
void warn_not_wide(const Trans_Tbl* head) {
    for (const Trans_Tbl* e = head; e != nullptr; e = e->next) {
        if (has_wide_form(original_of(e), full_translation_of(e))) continue;
        std::string unused;
        if (utf8_to_utf16le(original_of(e), unused)) {
            std::printf("Warn: the translation of '%s' is no UTF-8 text: not sought as UTF-16.\n", e->org_name);
        } else {
            std::printf("Warn: '%s' is no UTF-8 text: not sought as UTF-16.\n", e->org_name);
        }
    }
}

// -g: the warnings of the entries whose translation was cut, as the check
// gives them, for those replaced outside the resources.
void warn_cut_outside(const Trans_Tbl* head, const std::vector<std::int64_t>& full_counts,
                      const MessageSink& messages) {
    std::size_t i = 0;
    for (const Trans_Tbl* e = head; e != nullptr; e = e->next, ++i) {
        const std::int64_t full = i < full_counts.size() ? full_counts[i] : 0;
        if (e->n_trans > full && std::strlen(e->new_name_full) > std::strlen(e->org_name)) warn_clipped(e, messages);
    }
}

Failure cannot_write(const std::string& output) {
    return {kStatusOutput, "Error: Can't write " + output + ".\n"};
}

Failure cannot_open_output(const std::string& output) {
    return {kStatusOutput, "Error: Can't open " + output + " for write.\n"};
}

Failure cannot_read_program(const std::string& program) {
    return {kStatusProgram, "Error: Can't read file " + program + " to translate.\n"};
}

// -l's values as language ids: 1 to 4 hex digits each.
std::optional<std::vector<std::uint32_t>> language_ids(const std::vector<std::string>& hex) {
    std::vector<std::uint32_t> ids;
    for (const std::string& h : hex) {
        if (h.empty() || h.size() > 4 || h.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            return std::nullopt;
        }
        ids.push_back(static_cast<std::uint32_t>(std::stoul(h, nullptr, 16)));
    }
    return ids;
}

// -g: the program read once as the copy is written, its headers and
// resources read by offset beforehand. A FIFO can be read only once: its
// bytes are held in memory and read from there. Gives the full-length
// counts.
RunFailure translate_resources_to(const Settings& s, Inputs& in, PendingOutput& out,
                                  std::vector<std::int64_t>& full_counts) {
    ProgramInput program{in.program.file(), static_cast<std::uint64_t>(in.program.at_open().st_size), {}};
    std::string held;
    std::FILE* memory = nullptr;
    if (S_ISFIFO(in.program.at_open().st_mode)) {
        char block[1 << 16];
        std::size_t got;
        while ((got = std::fread(block, 1, sizeof block, in.program.file())) > 0) held.append(block, got);
        if (std::ferror(in.program.file())) return cannot_read_program(s.program);
        program.size = held.size();
        program.held = held;
        if (!held.empty()) {
            memory = ::fmemopen(held.data(), held.size(), "rb");
            if (memory == nullptr) return out_of_memory();
            program.prog = memory;
        }
    }
    const std::optional<std::vector<std::uint32_t>> languages = language_ids(s.languages);
    ResourceTranslation t =
        translate_resources(in.entries.get(), program, out.stream(), s.relax, s.wide, *languages,
                            to_standard_output(true));
    if (memory != nullptr) std::fclose(memory);
    switch (t.status) {
        case ResourceStatus::ok:
            break;
        case ResourceStatus::out_of_memory:
            return out_of_memory();
        case ResourceStatus::read_error:
            return cannot_read_program(s.program);
        case ResourceStatus::write_error:
            return cannot_write(s.output);
        case ResourceStatus::unreadable:
            return Failure{kStatusResources,
                           "Error: " + s.program + " has no resources that -g can read: " + t.reason + ".\n"};
        case ResourceStatus::overlay:
            return Failure{kStatusLayout, "Error: the resources of " + s.program +
                                              " cannot grow without moving the data after its last section.\n"};
        case ResourceStatus::no_room:
            return Failure{kStatusLayout, "Error: the resources of " + s.program +
                                              " cannot grow: its header has no room for one more section.\n"};
    }
    if (!in.program.read_unchanged()) return cannot_read_program(s.program);
    if (!out.commit()) return cannot_write(s.output);
    if (t.certificate_removed) {
        std::printf("Warn: %s is no longer signed: its certificate was removed.\n", s.output.c_str());
    }
    full_counts = std::move(t.full_counts);
    return std::nullopt;
}

// indexes: the translator's, begun when the list was read (not with -g).
RunFailure translate_to_output(const Settings& s, Inputs& in, TranslationIndexes* indexes,
                               std::optional<std::vector<std::int64_t>>& full_counts) {
    PendingOutput out;
    switch (out.open(s.output, in.program.at_open(), in.dictionary)) {
        case OutputStatus::ok:
            break;
        case OutputStatus::is_program:
            return Failure{kStatusOutput, "Error: output " + s.output + " would overwrite the program to translate.\n"};
        case OutputStatus::is_dictionary:
            return Failure{kStatusOutput,
                           "Error: output " + s.output + " would overwrite the dictionary " + s.dictionary_file + ".\n"};
        case OutputStatus::out_of_memory:
            return out_of_memory();
        case OutputStatus::cannot_create:
            return cannot_open_output(s.output);
    }
    if (s.resources) return translate_resources_to(s, in, out, full_counts.emplace());
    TranslateStatus status =
        indexes != nullptr
            ? translate(*indexes, in.program.file(), out.stream(), to_standard_output(true))
            : translate(in.entries.get(), in.program.file(), out.stream(), s.relax, s.wide, to_standard_output(true));
    // A program whose size changed while it was read gives no copy.
    if (status != TranslateStatus::out_of_memory && !in.program.read_unchanged()) {
        status = TranslateStatus::read_error;
    }
    if (status == TranslateStatus::out_of_memory) return out_of_memory();
    if (status == TranslateStatus::read_error) return cannot_read_program(s.program);
    if (status != TranslateStatus::ok || !out.commit()) return cannot_write(s.output);
    return std::nullopt;
}

RunFailure run(Settings& s) {
    if (s.resources && !language_ids(s.languages)) {
        return Failure{kStatusOption, "Error: -l takes a hex language id such as 0409.\n"};
    }
    form_names(s);
    const MessageSink messages = to_standard_output();
    Inputs in;
    InputPlan plan;
    plan.program = s.program;
    plan.dictionary = s.dictionary_file;
    plan.purpose = "translate";
    plan.missing_on_stdout = true;
    plan.po = s.po;
    plan.reader_messages = messages;
    if (RunFailure failed = read_inputs(plan, in)) return failed;
    // The translator's indexes are built while the list is checked and the
    // copy opened; a failed check only waits for them.
    std::optional<TranslationIndexes> indexes;
    if (!s.check_only && !s.resources) indexes.emplace(in.entries.get(), s.relax, s.wide);
    // With -g, only the entries found outside the resources are cut: their
    // warnings follow the translation.
    const bool clips_later = s.resources && !s.check_only;
    int errors = check_trans(in.entries.get(), messages, !clips_later);
    if (errors == kCheckOutOfMemory) return out_of_memory();
    if (s.wide) warn_not_wide(in.entries.get());
    if (errors != 0) return Failure{kStatusInconsistent, ""};  // the check has written its messages
    if (s.check_only) return std::nullopt;
    std::optional<std::vector<std::int64_t>> full_counts;  // with -g only
    if (RunFailure failed = translate_to_output(s, in, indexes ? &*indexes : nullptr, full_counts)) return failed;
    if (clips_later) warn_cut_outside(in.entries.get(), *full_counts, messages);
    report(in.entries.get(), s.relax, s.output, full_counts);
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    return run_tool(argc, argv, {kToolName, usage}, [](int argc, char** argv) -> RunEnd {
        Settings settings = read_command_line(argc, argv);
        if (RunFailure failed = run(settings)) return failed;
        if (!close_standard_output()) return Failure{kStatusReport, "Error: Can't write the report.\n"};
        return std::nullopt;
    });
}
