// The two format readers behind read_program_map, and the file bytes they
// read. Internal to program_sections.cpp, elf_sections.cpp and
// pe_sections.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "program_sections.h"

// A program file's bytes, read by pread from an fd or copied from memory.
// Reads from the fd go through a window, so that the many small reads of a
// header walk do not each cost a system call.
class FileBytes {
public:
    // window: how many bytes a read from the fd fetches at once.
    FileBytes(int fd, std::uint64_t size, std::size_t window = 64 * 1024)
        : fd_(fd), size_(size), window_size_(window) {}
    FileBytes(const unsigned char* data, std::uint64_t size) : data_(data), size_(size) {}

    int fd() const { return fd_; }                      // -1 for bytes in memory
    const unsigned char* data() const { return data_; }  // nullptr for an fd
    std::uint64_t size() const { return size_; }

    // Copies n bytes at offset to out; false when they pass the end of the
    // file or cannot be read (the file was cut short meanwhile).
    bool read(std::uint64_t offset, void* out, std::size_t n);

private:
    int fd_ = -1;
    const unsigned char* data_ = nullptr;
    std::uint64_t size_;
    std::size_t window_size_ = 0;
    std::vector<unsigned char> window_;
    std::uint64_t window_at_ = 0;
};

// Each gives a map of its format whose ranges lie within the file, in any
// order (read_program_map sorts them, checks that the sections do not
// overlap and merges the hidden ranges), or a map of format unknown. They
// may throw std::bad_alloc.
ProgramMap read_elf_map(FileBytes& file);
ProgramMap read_pe_map(FileBytes& file);
