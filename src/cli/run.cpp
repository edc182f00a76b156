#include "run.h"

#include <csignal>
#include <cstdio>
#include <new>
#include <string_view>

#include "standard_streams.h"

namespace {

enum class Asked { run, usage, version };

// The first of -h, --help and --version, wherever it stands (also as an
// option's value): a user asking for help never gets a run.
Asked asked(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i] != nullptr ? argv[i] : "";
        if (arg == "-h" || arg == "--help") return Asked::usage;
        if (arg == "--version") return Asked::version;
    }
    return Asked::run;
}

}  // namespace

int run_tool(int argc, char** argv, const Tool& tool, const ToolRun& run) {
    occupy_closed_standard_streams();
    // Past a file-size limit a write then fails and is reported, instead of
    // the process being killed.
    std::signal(SIGXFSZ, SIG_IGN);
    switch (asked(argc, argv)) {
        case Asked::usage:
            tool.usage();
            return kStatusOk;
        case Asked::version:
            std::printf("%s %s\n", tool.name, VORLANG_VERSION);
            return kStatusOk;
        case Asked::run:
            break;
    }
    RunEnd end;
    try {
        end = run(argc, argv);
    } catch (const std::bad_alloc&) {
        end = out_of_memory();
    }
    return end.failure ? report_failure(*end.failure) : end.status;
}
