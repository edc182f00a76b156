// The program file mapped into memory whole, for a translator that reads it
// without copying it. Pages of a mapped file that shrinks meanwhile can no
// longer be read: touching one raises SIGBUS, which the pending output's
// signal handler turns into the run's read error (see end_if_program_lost).
#pragma once

#include <cstddef>
#include <string>

#include "program_file.h"
#include "run_failure.h"

class ProgramMap {
public:
    ProgramMap() = default;
    ~ProgramMap();
    ProgramMap(const ProgramMap&) = delete;
    ProgramMap& operator=(const ProgramMap&) = delete;

    // Maps a regular, non-empty program as it was opened, private to this
    // process and writable (a written page is copied, the file never
    // changes). lost: how the run ends when a page of it is lost. False
    // when it cannot be mapped: the program is then read.
    bool map(const ProgramFile& program, Failure lost);

    unsigned char* data() const { return data_; }
    std::size_t size() const { return size_; }
    // The file still has the size it was mapped with.
    bool unchanged(const ProgramFile& program) const;

private:
    void unmap();

    unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
    Failure lost_;
};

// From a SIGBUS handler: when addr lies in the mapped program, ends the
// process as the failure given to map() says; else returns.
// Async-signal-safe.
void end_if_program_lost(const void* addr);
