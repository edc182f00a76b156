// The program file as both programs open and read it.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <string>

struct ProgramFile {
    std::FILE* file = nullptr;
    struct stat at_open {};  // what the file was when it was opened
};

// Opens the program for reading. Refuses what is not a regular file or a
// FIFO (a device, a socket, a folder): such input may never end, or is no
// program. A FIFO ends when its writer closes it; a reader that reads the
// program more than once refuses it too (fifo false).
bool open_program(const std::string& name, ProgramFile& p, bool fifo = true);

// After the file has been read to its end: true when the bytes read are as
// many as the file held when it was opened and holds now, so that the copy
// is of one version of it. A FIFO has no size to compare.
bool read_unchanged(const ProgramFile& p);

void close_program(ProgramFile& p);
