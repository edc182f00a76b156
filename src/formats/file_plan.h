// A new file described by the old one: pieces in the new file's order, each
// a range of the old file's copy, bytes of its own, or a range of the old
// file itself, a few header fields written over them, and the PE checksum
// to compute as the bytes go by. -g lays out a grown resource section this
// way, so that the file itself is read and written once, as a stream, and
// only the resources' texts are held in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "byte_sink.h"
#include "section_readers.h"

enum class PieceSource {
    copy,     // the old file's bytes [offset, offset + size) as the copy being written holds them
    bytes,    // bytes of its own
    program,  // the old file's bytes [offset, offset + size) as the program holds them, read when due
};

struct FilePiece {
    PieceSource source = PieceSource::copy;
    std::uint64_t offset = 0;  // copy, program
    std::uint64_t size = 0;    // copy, program
    std::vector<unsigned char> bytes;
    std::uint64_t length() const { return source == PieceSource::bytes ? bytes.size() : size; }
};

struct FilePatch {
    std::uint64_t at = 0;  // in the new file
    std::vector<unsigned char> bytes;
};

struct FilePlan {
    // The copy's ranges ascend and do not overlap; the program's may lie
    // anywhere.
    std::vector<FilePiece> pieces;
    // Applied in order over whatever piece lies there; a later one wins.
    std::vector<FilePatch> patches;
    // The checksum field to fill in when everything is written (taken as
    // zero while summing); none when the old file's was zero.
    std::optional<std::uint64_t> checksum_at;

    void keep(std::uint64_t offset, std::uint64_t size);  // of the copy
    void add(std::vector<unsigned char> bytes);
    void add_program(std::uint64_t offset, std::uint64_t size);
    void put16(std::uint64_t at, std::uint32_t v);
    void put32(std::uint64_t at, std::uint32_t v);
    std::uint64_t new_size() const;
};

// Makes every piece of the copy's [begin, end) a piece of the program: the
// copy that the plan splices holds something else there (-g's passes see
// the resource section as zeros).
void take_from_program(FilePlan& plan, std::uint64_t begin, std::uint64_t end);

// The PE checksum summed as the bytes go by: their 16-bit little-endian
// words added with the carries folded back in, then the file's length.
class PeChecksum {
public:
    void add(const unsigned char* data, std::size_t n);
    std::uint32_t value() const;

private:
    std::uint64_t sum_ = 0;  // folded only at the end: see value()
    std::uint64_t length_ = 0;
    bool odd_ = false;       // the last byte added was a word's low byte
};

// Turns the old file's copy, handed over in order (as it is written), into
// the new file, which goes to emit; pieces of the program are read from
// program when due.
class FileSplice {
public:
    FileSplice(const FilePlan& plan, ByteSink emit, FileBytes* program = nullptr)
        : plan_(plan), emit_(std::move(emit)), program_(program) {}

    // The copy's next n bytes. False when emit failed or the program could
    // not be read.
    bool put(const unsigned char* data, std::size_t n);
    // After the copy's last byte: writes what is left. False as put, or
    // when the copy ended before a piece that it should hold.
    bool finish();
    // Whether a failure was the program's (cut short meanwhile).
    bool program_failed() const { return program_failed_; }
    // When the plan has a checksum field, its value once finish succeeded.
    std::uint32_t checksum() const { return checksum_.value(); }

private:
    bool emit(const unsigned char* data, std::size_t n);
    bool due();  // the pieces not of the copy now due

    const FilePlan& plan_;
    ByteSink emit_;
    FileBytes* program_;
    bool program_failed_ = false;
    std::size_t piece_ = 0;       // the next piece to write (or being written)
    std::uint64_t read_ = 0;      // copy bytes handed over so far
    std::uint64_t written_ = 0;   // new-file bytes emitted so far
    PeChecksum checksum_;
    std::vector<unsigned char> patched_;
    std::vector<unsigned char> block_;  // a program piece's bytes on their way
};

// The new file whole, for bytes held in memory (and tests): old is both
// the copy and the program; the checksum filled in. Empty when the plan
// needs bytes past size.
std::vector<unsigned char> spliced(const FilePlan& plan, const unsigned char* old, std::size_t size);
