// Places a resource tree into a PE image as a new resource section, and
// gives the plan of the new file (see file_plan.h). The ways, safest first:
// - in place: the new section fits in the old one's raw data (a section
//   named .rsrc that starts with the resource root) and in its virtual
//   range; the rest of the raw data becomes zeros;
// - extended: the old section is the last one, or only the relocations
//   (.reloc) follow it, in the file and in memory; it grows, and what
//   followed it moves up, with every directory that pointed there;
// - a new section after the last one, when the header has 40 zero bytes
//   left for its header; the old resources stay where they were, unused.
// Then the image size, the size of initialized data, the resource directory
// and the checksum (where it was not zero) are set anew.
//
// Bytes past the last section's raw data (an overlay: an installer's
// payload) are kept byte for byte; when the section would have to grow into
// them, the layout is refused. The COFF symbols and their string table, when
// they are all that follows (zero padding aside) and the header points to
// them, move instead to the new end of the file, the header's pointer with
// them. A certificate (an Authenticode
// signature) cannot survive a change: its directory is zeroed, its bytes
// dropped when they end the file, and the result says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "file_plan.h"
#include "resource_tree.h"

enum class LayoutError {
    none,
    not_pe,        // no PE image, or headers that do not make sense
    resources,     // the tree cannot be written (see message)
    overlay,       // growing would move the bytes after the last section
    no_room,       // no way in place or by growing, and no room for one more section header
};

enum class LayoutWay { in_place, extended, new_section };

struct LayoutResult {
    FilePlan plan;                     // the new file, from the old one
    std::vector<unsigned char> bytes;  // the new file, by the in-memory form only
    LayoutError error = LayoutError::none;
    std::string message;
    LayoutWay way = LayoutWay::in_place;
    bool certificate_removed = false;  // the caller warns: the program is no longer signed
    bool ok() const { return error == LayoutError::none; }
};

// How to make the file with its resources replaced by tree: read are the
// headers and what follows the sections, not the sections themselves. May
// throw std::bad_alloc.
LayoutResult lay_out_resources(FileBytes& file, const ResourceTree& tree);

// The same for a file held in memory, with the new file in bytes.
LayoutResult lay_out_resources(const unsigned char* file, std::size_t size, const ResourceTree& tree);
