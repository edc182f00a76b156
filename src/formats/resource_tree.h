// The resource tree of a PE image (data directory 2) as a flat list of its
// data entries, each with the type, name and language that lead to it; and
// the writer that lays such a list out as a new resource section.
//
// The reader checks every offset, refuses a directory met twice (a loop or
// a shared subtree), a tree deeper or shallower than type / name / language,
// more entries than the bytes could hold (one per 8 bytes) and copies past a
// budget of a few times the section's size, so that no input costs more
// than a bounded amount of work and memory.
//
// The writer's normal form, which the loader reads as any other layout:
// - all directories first, depth first (each directory followed by those
//   its entries lead to, in their order), as resource compilers lay them
//   out; every directory has the root's characteristics, time stamp and
//   version;
// - in each directory the named entries first, ordered by their names with
//   ASCII and Latin-1 letters folded to upper case (then by the units
//   themselves, so that the order is total), then the ids ascending;
// - then the directory strings (a length unit and the units, each at an
//   even offset) in the order the directories name them, none shared;
// - then the data entries (16 bytes each, from an offset aligned to 8) in
//   the order of the tree;
// - then the data, each at an offset aligned to 8, zeros between.
// Writing a tree read from that form gives the same bytes again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pe_image.h"
#include "section_readers.h"

// A type, name or language: an id or a UTF-16 name.
struct ResourceKey {
    bool named = false;
    std::uint32_t id = 0;  // when not named
    std::u16string name;   // when named

    static ResourceKey of(std::uint32_t id) { return ResourceKey{false, id, {}}; }
    static ResourceKey of(std::u16string name) { return ResourceKey{true, 0, std::move(name)}; }
    bool operator==(const ResourceKey&) const = default;
};

// The order of the entries of a directory: negative, zero or positive.
int compare_resource_keys(const ResourceKey& a, const ResourceKey& b);

struct ResourceEntry {
    ResourceKey type;      // e.g. 4 a menu, 5 a dialog, 6 a string-table block
    ResourceKey name;
    ResourceKey language;  // an id (0x0409 en-US) in every file built by a resource compiler
    std::uint32_t code_page = 0;
    std::vector<unsigned char> data;
    // Data a reader left in the file (see ResourceKeep): where they stand
    // there; data is then empty. Empty for data held in memory.
    std::uint64_t in_file_begin = 0;
    std::uint64_t in_file_end = 0;
    bool held() const { return in_file_end == in_file_begin; }
    std::uint64_t size() const { return held() ? data.size() : in_file_end - in_file_begin; }
    bool operator==(const ResourceEntry&) const = default;
};

// Which types' data a reader holds in memory; the rest it leaves in the
// file, so that large icons, bitmaps or installer payloads carried byte for
// byte cost no memory. Null: every type's.
using ResourceKeep = bool (*)(const ResourceKey& type);

struct ResourceTree {
    // The root directory's header fields, written on every directory.
    std::uint32_t characteristics = 0;
    std::uint32_t time_stamp = 0;
    std::uint16_t major_version = 0;
    std::uint16_t minor_version = 0;
    // In the order the directories list them (sorted in the normal form).
    std::vector<ResourceEntry> entries;
    bool operator==(const ResourceTree&) const = default;
};

enum class ResourceError {
    none,
    no_resources,   // the image has no resource directory
    out_of_bounds,  // an offset or size past the resource bytes
    loop,           // a directory met twice
    bad_shape,      // a data entry above the language level or a directory below it
    too_many,       // more entries or copied bytes than the bytes can hold
    duplicate,      // writing: two entries with the same type, name and language
    too_large,      // writing: past 4 GiB, a name past 65,535 units, a directory past 65,535 ids
};

struct ResourceRead {
    ResourceTree tree;
    ResourceError error = ResourceError::none;
    std::string message;  // what is wrong and where, for the caller's report
    bool ok() const { return error == ResourceError::none; }
};

// Data left in the file, placed in a section: size bytes from the file's
// offset source go at the section's offset at.
struct ResourceFromFile {
    std::uint64_t at;
    std::uint64_t source;
    std::uint64_t size;
};

struct ResourceImage {
    // The section's bytes, unpadded, but for the data left in the file:
    // those ranges are left out of bytes, which holds what lies before,
    // between and after them.
    std::vector<unsigned char> bytes;
    std::vector<ResourceFromFile> from_file;  // by ascending at
    std::uint64_t size() const {
        std::uint64_t n = bytes.size();
        for (const ResourceFromFile& f : from_file) n += f.size;
        return n;
    }
    ResourceError error = ResourceError::none;
    std::string message;
    bool ok() const { return error == ResourceError::none; }
};

// The tree whose root lies at the start of bytes, which the image maps at
// rva: every directory, string and data entry within bytes. May throw
// std::bad_alloc.
ResourceRead read_resource_tree(const unsigned char* bytes, std::size_t size, std::uint32_t rva);

// The tree of the image's resource directory: from its root to the end of
// the raw data of the section that holds it. Data outside that range are
// refused (out_of_bounds). Only the directories and the data of the types
// keep takes are read. May throw std::bad_alloc.
ResourceRead read_resource_tree(FileBytes& file, const PeImage& image, ResourceKeep keep = nullptr);

// The tree laid out in the normal form for a section mapped at rva; the
// data of entries left in the file stay there (from_file).
// May throw std::bad_alloc.
ResourceImage write_resource_tree(const ResourceTree& tree, std::uint32_t rva);
