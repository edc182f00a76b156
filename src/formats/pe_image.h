// The PE image as its headers describe it: the COFF and optional headers,
// the section table, the data directories, where an RVA lies in the file and
// the overlay. Read once, every offset in it checked against the file; the
// section map and the readers of what the directories point to start here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "program_sections.h"
#include "section_readers.h"

// The little-endian fields of the headers.
inline std::uint32_t le16(const unsigned char* p) { return static_cast<std::uint32_t>(p[0] | p[1] << 8); }
inline std::uint32_t le32(const unsigned char* p) { return le16(p) | le16(p + 2) << 16; }
inline std::uint64_t le64(const unsigned char* p) { return le32(p) | std::uint64_t{le32(p + 4)} << 32; }

// A section header.
struct PeSection {
    // The 8-byte field up to its first zero. A long name stands in the COFF
    // string table; the field then holds "/" and its offset there.
    std::string name;
    std::uint32_t virtual_address = 0;
    std::uint32_t virtual_size = 0;
    std::uint32_t raw_offset = 0;  // of its bytes in the file
    std::uint32_t raw_size = 0;
    std::uint32_t characteristics = 0;

    // A section with no size or offset in the file (e.g. .bss) has no bytes
    // there; those of every other lie within the file.
    bool has_bytes() const { return raw_size != 0 && raw_offset != 0; }
};

// A data directory: where a table the loader or a tool reads lies, by RVA.
struct PeDirectory {
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
};

enum class PeDirectoryIndex : unsigned { exports = 0, imports = 1, resources = 2, debug = 6, delay_imports = 13 };

// Where a range given by RVA lies in the file.
struct PeSpan {
    std::uint64_t offset;
    std::uint32_t room;  // bytes from offset to the end of its section's raw data or of the headers
};

struct PeImage {
    std::uint64_t file_size = 0;
    std::uint64_t pe_offset = 0;  // of the "PE\0\0" signature, as the DOS header gives it

    // The COFF header.
    std::uint16_t machine = 0;
    std::uint16_t coff_characteristics = 0;
    std::uint32_t symbols_offset = 0;  // 0: no COFF symbols
    std::uint32_t symbol_count = 0;
    FileRange string_table{0, 0};      // after the symbols; its size counts itself; empty without symbols

    // The optional header.
    std::uint64_t optional_offset = 0;
    std::uint16_t optional_size = 0;
    bool plus = false;  // PE32+: 64-bit addresses and 8-byte thunks
    std::uint64_t image_base = 0;
    std::uint32_t section_alignment = 0;
    std::uint32_t file_alignment = 0;
    std::uint32_t headers_size = 0;
    // As many as the header counts and the optional header has room for.
    std::vector<PeDirectory> directories;

    FileRange section_table{0, 0};
    std::vector<PeSection> sections;  // in table order
    // The sections with bytes, as indices into sections, by virtual address.
    std::vector<std::size_t> by_address;

    // The bytes past the headers and every section's raw data: what was
    // appended to the image (an installer's payload, a signature, COFF
    // symbols). Empty when nothing follows.
    FileRange overlay{0, 0};

    // The directory, or an empty one when the header has none at index.
    PeDirectory directory(PeDirectoryIndex index) const;

    // Where [rva, rva + size) lies: in the raw data of the section with
    // bytes that holds rva, or else in the headers; nothing when it lies in
    // neither or runs past the end of its section, the headers or the file.
    std::optional<PeSpan> span(std::uint64_t rva, std::uint64_t size) const;
};

// The image in file, which begins with "MZ": nothing when it is no PE image
// or its headers do not make sense (a range past the end of the file, an
// unknown optional header). May throw std::bad_alloc.
std::optional<PeImage> read_pe_image(FileBytes& file);
