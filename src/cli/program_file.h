// The program file as every program opens and reads it; it closes itself.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <string>

class ProgramFile {
public:
    ProgramFile() = default;
    ~ProgramFile();
    ProgramFile(const ProgramFile&) = delete;
    ProgramFile& operator=(const ProgramFile&) = delete;

    // Opens the program for reading. Refuses what is not a regular file or a
    // FIFO (a device, a socket, a folder): such input may never end, or is
    // no program. A FIFO ends when its writer closes it; a reader that reads
    // the program more than once refuses it too (fifo false).
    bool open(const std::string& name, bool fifo = true);

    std::FILE* file() const { return file_; }
    // What the file was when it was opened.
    const struct stat& at_open() const { return at_open_; }

    // After the file has been read to its end: true when the bytes read are
    // as many as the file held when it was opened and holds now, so that
    // the copy is of one version of it. A FIFO has no size to compare.
    bool read_unchanged() const;

private:
    std::FILE* file_ = nullptr;
    struct stat at_open_ {};
};
