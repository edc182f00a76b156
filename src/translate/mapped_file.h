// The program read where the page cache holds it: a read-only mapping, so
// that the scan reads the file's pages without copying them first.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>

// Whether a file with this status may be mapped: a regular file. One cut
// short while it is mapped raises SIGBUS when the scan reads past its new
// end; whoever maps it must have that signal end the run as a read failure
// (vorlang's pending output does).
bool may_map(const struct stat& st);

class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Maps the size bytes of the file open on fd (size > 0); false when it
    // cannot be mapped, and the file is then read as a stream.
    bool map(int fd, std::int64_t size);
    const unsigned char* bytes() const { return bytes_; }
    std::int64_t size() const { return size_; }
    // Lets the pages before offset leave the process's memory (they stay in
    // the page cache, and come back if read again), a few megabytes at a
    // time: the memory a run holds stays flat whatever the file's size.
    void release_before(std::int64_t offset);

private:
    unsigned char* bytes_ = nullptr;
    std::int64_t size_ = 0;
    std::int64_t released_ = 0;  // pages before this offset are released
};
