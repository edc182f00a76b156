// How a run of any program ends when it fails: one value with one message
// line and one exit status, written in one place.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

// The statuses the programs share (a program may add its own for a run that
// succeeded, as the lint does for its findings).
constexpr int kStatusOk = 0;
constexpr int kStatusNotFound = 1;
constexpr int kStatusInconsistent = -1;
constexpr int kStatusProgram = -2;
constexpr int kStatusDictionary = -3;
constexpr int kStatusOption = -4;
constexpr int kStatusOutput = -5;
constexpr int kStatusReport = -6;
constexpr int kStatusResources = -7;  // -g: no PE program, or resources that do not parse
constexpr int kStatusLayout = -8;     // -g: the new resources find no place

struct Failure {
    int status;
    std::string message;  // the whole line, its LF included
    bool on_stdout = false;  // the "not found" lines go to standard output
};

// What a run gives back: nothing when it succeeded.
using RunFailure = std::optional<Failure>;

// Memory ran out, in any program and at any step.
Failure out_of_memory();

// Writes the failure's message after everything already written to standard
// output, so that "2>&1" keeps the order of events, and returns its status.
int report_failure(const Failure& f);
