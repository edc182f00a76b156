// One run of any program: options -> inputs -> work -> one Failure.
//
// run_tool is main's whole body. It prepares the process (closed standard
// streams occupied, SIGXFSZ ignored so that a write past a file-size limit
// fails and is reported), answers -h, --help and --version, and otherwise
// calls the program's run, which reads its options, its inputs (see
// inputs.h) and does its work. Whatever the run ends with, and memory that
// ran out anywhere in it, is reported here, once.
#pragma once

#include <functional>
#include <optional>
#include <utility>

#include "run_failure.h"

// How a run ends: its failure, or the status it succeeded with.
struct RunEnd {
    int status = kStatusOk;
    RunFailure failure;

    RunEnd() = default;
    RunEnd(std::nullopt_t) {}
    RunEnd(Failure f) : failure(std::move(f)) {}
    RunEnd(RunFailure f) : failure(std::move(f)) {}
    static RunEnd succeeded(int status) {
        RunEnd end;
        end.status = status;
        return end;
    }
};

struct Tool {
    const char* name;  // as --version writes it
    void (*usage)();   // writes the usage text to standard error, for -h and --help
};

using ToolRun = std::function<RunEnd(int argc, char** argv)>;

// Returns the exit status.
int run_tool(int argc, char** argv, const Tool& tool, const ToolRun& run);
