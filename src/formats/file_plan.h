// A new file described by the old one: pieces in the new file's order, each
// a range of the old file or bytes of its own, a few header fields written
// over them, and the PE checksum to compute as the bytes go by. -g lays out
// a grown resource section this way, so that the file itself is read and
// written once, as a stream, and only the resources are held in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "byte_sink.h"
#include "section_readers.h"

struct FilePiece {
    bool from_file = true;               // the old file's bytes [offset, offset + size)
    std::uint64_t offset = 0;            // when from_file
    std::uint64_t size = 0;              // when from_file
    std::vector<unsigned char> bytes;    // when not from_file
    std::uint64_t length() const { return from_file ? size : bytes.size(); }
};

struct FilePatch {
    std::uint64_t at = 0;  // in the new file
    std::vector<unsigned char> bytes;
};

struct FilePlan {
    // The ranges from the old file ascend and do not overlap.
    std::vector<FilePiece> pieces;
    // Applied in order over whatever piece lies there; a later one wins.
    std::vector<FilePatch> patches;
    // The checksum field to fill in when everything is written (taken as
    // zero while summing); none when the old file's was zero.
    std::optional<std::uint64_t> checksum_at;

    void keep(std::uint64_t offset, std::uint64_t size);
    void add(std::vector<unsigned char> bytes);
    void put16(std::uint64_t at, std::uint32_t v);
    void put32(std::uint64_t at, std::uint32_t v);
    std::uint64_t new_size() const;
};

// Makes every piece of the old file's [begin, end) new bytes, read from
// file: the copy that the plan splices holds something else there (-g's
// passes see the resource section as zeros). False when file cannot be
// read there. May throw std::bad_alloc.
bool take_from(FilePlan& plan, FileBytes& file, std::uint64_t begin, std::uint64_t end);

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

// Turns the old file, handed over in order (as a copy of it is written),
// into the new one, which goes to emit.
class FileSplice {
public:
    FileSplice(const FilePlan& plan, ByteSink emit) : plan_(plan), emit_(std::move(emit)) {}

    // The old file's next n bytes. False when emit failed.
    bool put(const unsigned char* data, std::size_t n);
    // After the old file's last byte: writes what is left. False when emit
    // failed or the old file ended before a piece that it should hold.
    bool finish();
    // When the plan has a checksum field, its value once finish succeeded.
    std::uint32_t checksum() const { return checksum_.value(); }

private:
    bool emit(const unsigned char* data, std::size_t n);
    bool literals();  // the pieces of new bytes now due

    const FilePlan& plan_;
    ByteSink emit_;
    std::size_t piece_ = 0;       // the next piece to write (or being written)
    std::uint64_t read_ = 0;      // old-file bytes handed over so far
    std::uint64_t written_ = 0;   // new-file bytes emitted so far
    PeChecksum checksum_;
    std::vector<unsigned char> patched_;
};

// The new file whole, for bytes held in memory (and tests); the checksum
// filled in. Empty when the plan needs bytes past size.
std::vector<unsigned char> spliced(const FilePlan& plan, const unsigned char* old, std::size_t size);
