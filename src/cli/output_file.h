// The translated copy is written where nobody sees it and gets the output's
// name only once it is complete, so that a failed or interrupted run never
// leaves a truncated copy, destroys an older one or leaves a file behind.
//
// The output's folder is opened once and every later step works relative to
// it, so a folder renamed or swapped during the run neither receives the
// copy elsewhere nor keeps it. Where the file system allows it the copy is
// an unnamed file until it is complete; elsewhere it has a hidden name that
// an interrupt removes.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>
#include <string>

struct PendingOutput {
    int folder = -1;          // the output's folder
    std::string name;         // the output's name in it
    int fd = -1;              // the copy being written
    bool unnamed = false;     // it has no name in the folder yet
    std::string temp;         // its hidden name, while it has one
    mode_t mode = 0;          // the mode the finished copy gets
    std::FILE* file = nullptr;  // over a duplicate of fd; whoever writes closes it
};

enum class OutputStatus { ok, cannot_create, is_program, is_dictionary, out_of_memory };

// Finds the file that opening name for writing would write (following
// links), refuses what is not a regular file, is not writable, or is the
// program or the dictionary (their stat given, as they were opened), and a
// folder that could never give the copy its name; then creates the copy. Until the output is
// committed or discarded, every signal that would end the process removes
// the copy's hidden name first.
OutputStatus open_output(const std::string& name, const struct stat& program, const struct stat& dictionary,
                         PendingOutput& out);

// After out.file has been closed: gives the copy its mode and its name.
// Returns false, with nothing left behind, when it cannot.
bool commit_output(PendingOutput& out);

// Drops the copy; closes out.file first when it is still open.
void discard_output(PendingOutput& out);
