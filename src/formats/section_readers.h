// The two format readers behind read_program_map, and the file bytes they
// read. Internal to program_sections.cpp, elf_sections.cpp and
// pe_sections.cpp.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "program_sections.h"

// A program file's bytes, read by pread from an fd or copied from memory.
// Reads from the fd go through a few cached blocks, so that the many small
// reads of a header walk do not each cost a system call. Block i of the file
// stays in slot i % kSlots until a block of the same slot replaces it, so
// reads that move forward (the PE reader reads in such runs) read each block
// once, and a read that spans two blocks finds both.
class FileBytes {
public:
    // block: how many bytes a read from the fd fetches at once.
    FileBytes(int fd, std::uint64_t size, std::size_t block = kBlock) : fd_(fd), size_(size), block_(block) {}
    FileBytes(const unsigned char* data, std::uint64_t size) : data_(data), size_(size) {}

    int fd() const { return fd_; }                      // -1 for bytes in memory
    const unsigned char* data() const { return data_; }  // nullptr for an fd
    std::uint64_t size() const { return size_; }
    std::uint64_t bytes_read() const { return bytes_read_; }  // from the fd, so far

    // Copies n bytes at offset to out; false when they pass the end of the
    // file or cannot be read (the file was cut short meanwhile).
    bool read(std::uint64_t offset, void* out, std::size_t n);

    static constexpr std::size_t kBlock = 16 * 1024;
    static constexpr std::size_t kSlots = 4;

private:
    struct Slot {
        std::uint64_t block = ~std::uint64_t{0};  // none yet
        std::size_t size = 0;                     // less than kBlock at the end of the file
    };

    int fd_ = -1;
    const unsigned char* data_ = nullptr;
    std::uint64_t size_;
    std::size_t block_ = kBlock;
    std::uint64_t bytes_read_ = 0;
    std::array<Slot, kSlots> slots_{};
    std::vector<unsigned char> cache_;  // kSlots blocks, allocated at the first read
};

// Each gives a map of its format whose ranges lie within the file, in any
// order (read_program_map sorts them, checks that the sections do not
// overlap and merges the hidden ranges), or a map of format unknown. They
// may throw std::bad_alloc.
ProgramMap read_elf_map(FileBytes& file);
ProgramMap read_pe_map(FileBytes& file);
