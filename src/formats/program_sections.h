// Where a program's texts stand: its sections by file offset, and the parts
// of the file that the program never shows (the names it links by, its
// symbols, its debug data). The companions use this to tell texts a user
// sees from names the program uses; vorlang itself never parses a program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class ProgramFormat { unknown, elf, pe };

// The bytes begin to end (end not included) of the file.
struct FileRange {
    std::uint64_t begin;
    std::uint64_t end;
};

struct Section {
    FileRange range;
    std::string name;  // as the headers give it, e.g. ".rodata"
    bool executable = false;  // holds instructions: a replacement there changes code
};

struct ProgramMap {
    ProgramFormat format = ProgramFormat::unknown;
    std::vector<Section> sections;  // with bytes in the file, sorted by begin, not overlapping
    std::vector<FileRange> hidden;  // sorted by begin, not overlapping, not touching
};

// Reads the headers of the program open at fd, a regular file (by pread,
// so the file position is not moved, and a file cut short meanwhile gives
// the unknown map rather than a fault). A file that is neither ELF nor PE,
// whose headers do not make sense (a range past the end of the file, a
// loop, more entries than the file can hold) or that has more than 65,536
// ELF section headers gives a map of format unknown with no sections and
// nothing hidden. Never throws.
ProgramMap read_program_map(int fd);

// The same over bytes held in memory (tests and the fuzz target).
ProgramMap read_program_map(const unsigned char* data, std::uint64_t size);

// Whether the byte at offset lies where the program never shows it.
bool is_hidden(const ProgramMap& map, std::uint64_t offset);

// The section that holds the byte at offset, or nullptr.
const Section* section_at(const ProgramMap& map, std::uint64_t offset);

// The name used for a byte outside every section of a recognised program.
constexpr const char* kOutsideSections = "(outside the sections)";
