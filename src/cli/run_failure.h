// How a run of either program ends when it fails: one value with one message
// line and one exit status, written in one place.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

struct Failure {
    int status;
    std::string message;  // the whole line, its LF included
    bool on_stdout = false;  // the "not found" lines go to standard output
};

// What a run gives back: nothing when it succeeded.
using RunFailure = std::optional<Failure>;

// Writes the failure's message after everything already written to standard
// output, so that "2>&1" keeps the order of events, and returns its status.
int report_failure(const Failure& f);
