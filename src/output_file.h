// The translated copy is written to a temporary file in the output's folder
// and renamed over the output only once it is complete, so a failed or
// interrupted run never leaves a truncated copy or destroys an older one.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>

struct PendingOutput {
    std::string target;  // the file that is finally replaced
    std::string temp;    // the temporary file being written
    std::FILE* file = nullptr;
    mode_t mode = 0;     // the mode the finished copy gets
};

enum class OutputStatus { ok, cannot_create, out_of_memory };

// Creates the temporary file for name. Until the output is committed or
// discarded, an interrupt (SIGINT, SIGTERM, SIGHUP) removes the temporary
// file before the process ends with that signal.
OutputStatus open_output(const std::string& name, PendingOutput& out);

// After the file has been closed: gives it its mode and renames it over the
// target. Returns false (and removes the temporary file) on failure.
bool commit_output(PendingOutput& out);

// Removes the temporary file; closes it first when it is still open.
void discard_output(PendingOutput& out);
