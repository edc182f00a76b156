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

// Where the copy stands while it is written.
struct OutputCopy {
    int folder = -1;       // the output's folder
    std::string name;      // the output's name in it
    int fd = -1;           // the copy being written
    bool unnamed = false;  // it has no name in the folder yet
    std::string temp;      // its hidden name, while it has one
    mode_t mode = 0;       // the mode the finished copy gets
};

enum class OutputStatus { ok, cannot_create, is_program, is_dictionary, out_of_memory };

// The copy until it has the output's name. It owns the stream the copy is
// written through: whoever writes it only flushes it. Unless committed, the
// copy is discarded when the pending output goes.
class PendingOutput {
public:
    PendingOutput() = default;
    ~PendingOutput() { discard(); }
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    // Finds the file that opening name for writing would write (following
    // links), refuses what is not a regular file, is not writable, or is the
    // program or the dictionary (their stat given, as they were opened), and
    // a folder that could never give the copy its name; then creates the
    // copy. Until the output is committed or discarded, every signal that
    // would end the process removes the copy's hidden name first.
    OutputStatus open(const std::string& name, const struct stat& program, const struct stat& dictionary);

    // Where the copy is written, once open.
    std::FILE* stream() const { return file_; }

    // Closes the stream, gives the copy its mode and its name. Returns false,
    // with nothing left behind, when it cannot.
    bool commit();

private:
    // Drops the copy, its stream closed first.
    void discard();

    OutputCopy copy_;
    std::FILE* file_ = nullptr;  // over a duplicate of copy_.fd
};
