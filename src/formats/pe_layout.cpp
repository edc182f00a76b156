#include "pe_layout.h"

#include <algorithm>

namespace {

constexpr std::size_t kSectionSize = 40;
constexpr std::uint32_t kInitializedData = 0x40, kReadable = 0x40000000;
constexpr unsigned kCertificates = 4, kRelocations = 5;

// Optional-header fields, the same in PE32 and PE32+.
constexpr std::size_t kInitializedSizeAt = 8, kImageSizeAt = 56, kChecksumAt = 64;

bool power_of_two(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }
std::uint64_t align_up(std::uint64_t v, std::uint32_t a) { return (v + a - 1) / a * a; }

LayoutResult failed(LayoutError e, std::string message) {
    LayoutResult r;
    r.error = e;
    r.message = std::move(message);
    return r;
}

// How far a section reaches in memory.
std::uint64_t virtual_end(const PeSection& s, std::uint32_t alignment) {
    return s.virtual_address + align_up(std::max(s.virtual_size, s.raw_size), alignment);
}

}  // namespace

LayoutResult lay_out_resources(FileBytes& file, const ResourceTree& tree) {
    const std::uint64_t size = file.size();
    const std::optional<PeImage> read = read_pe_image(file);
    if (!read) return failed(LayoutError::not_pe, "the file is no PE image, or its headers do not make sense");
    const PeImage& img = *read;
    const std::uint32_t sa = img.section_alignment, fa = img.file_alignment;
    if (!power_of_two(sa) || !power_of_two(fa) || img.directories.size() <= kCertificates) {
        return failed(LayoutError::not_pe, "the PE headers give no usable alignment or data directories");
    }
    LayoutResult r;
    bool readable = true;
    auto field = [&](std::uint64_t at) {
        unsigned char b[4] = {};
        readable = file.read(at, b, 4) && readable;
        return le32(b);
    };
    auto zeros = [&](std::uint64_t from, std::uint64_t to) {
        unsigned char b[4096];
        while (from < to) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof b, to - from));
            if (!file.read(from, b, n)) {
                readable = false;
                return false;
            }
            if (!std::all_of(b, b + n, [](unsigned char c) { return c == 0; })) return false;
            from += n;
        }
        return true;
    };

    // The certificate goes; its bytes too when they end the file.
    std::uint64_t end = size;
    const PeDirectory cert = img.directories[kCertificates];
    if (cert.rva != 0 || cert.size != 0) {
        r.certificate_removed = true;
        if (cert.rva >= img.overlay.begin && std::uint64_t{cert.rva} + cert.size == size) end = cert.rva;
    }
    // COFF symbols and their string table after the sections, as the header
    // points to them, are no foreign payload: they can move to the new end of
    // the file. Long section names index the string table by offset, so it
    // moves whole. Zero bytes may pad either side.
    const bool symbols = img.symbols_offset != 0 && img.symbols_offset >= img.overlay.begin &&
                         img.string_table.end <= end && zeros(img.overlay.begin, img.symbols_offset) &&
                         zeros(img.string_table.end, end);
    const bool overlay = end > img.overlay.begin && !symbols;

    // The resource section: .rsrc, its raw data starting with the root. A
    // section of another name may hold more than the resources (a linker
    // can merge them into .rdata): it is left alone.
    const PeDirectory old_dir = img.directory(PeDirectoryIndex::resources);
    const PeSection* rsrc = nullptr;
    for (std::size_t i : img.by_address) {
        const PeSection& s = img.sections[i];
        if (old_dir.rva != 0 && s.virtual_address == old_dir.rva && s.name == ".rsrc") rsrc = &s;
    }
    // What follows it in memory and in the file.
    const PeSection* after = nullptr;
    bool last_but_after = rsrc != nullptr;
    std::uint64_t image_end = std::min<std::uint64_t>(img.headers_size, size);  // of the raw data
    std::uint64_t memory_end = 0;
    for (const PeSection& s : img.sections) {
        memory_end = std::max(memory_end, virtual_end(s, sa));
        if (s.has_bytes()) image_end = std::max<std::uint64_t>(image_end, std::uint64_t{s.raw_offset} + s.raw_size);
        if (rsrc == nullptr || &s == rsrc || s.virtual_address < rsrc->virtual_address) continue;
        if (after == nullptr || s.virtual_address < after->virtual_address) after = &s;
    }
    if (rsrc != nullptr) {
        for (const PeSection& s : img.sections) {
            if (&s == rsrc || &s == after) continue;
            // Another section in memory, or raw data in the file, past the
            // resources' where they would grow.
            if (s.virtual_address > rsrc->virtual_address || (s.has_bytes() && s.raw_offset >= rsrc->raw_offset)) {
                last_but_after = false;
            }
        }
        if (after != nullptr) {
            const bool reloc = after->name == ".reloc" ||
                               (img.directories.size() > kRelocations &&
                                img.directories[kRelocations].rva == after->virtual_address);
            for (const PeSection& s : img.sections) {
                if (&s != after && s.virtual_address > after->virtual_address) last_but_after = false;
            }
            if (!reloc || !after->has_bytes() ||
                after->raw_offset < std::uint64_t{rsrc->raw_offset} + rsrc->raw_size) {
                last_but_after = false;
            }
        }
    }

    ResourceImage section = write_resource_tree(tree, rsrc != nullptr ? rsrc->virtual_address : 0);
    if (!section.ok()) return failed(LayoutError::resources, section.message);
    const std::uint64_t new_size = section.size();

    FilePlan& plan = r.plan;
    const std::uint64_t dirs_at = img.optional_offset + (img.plus ? 112 : 96);
    auto header_of = [&](const PeSection* s) {
        return img.section_table.begin + kSectionSize * static_cast<std::uint64_t>(s - img.sections.data());
    };
    // The new section's pieces, padded with zeros to its raw size: its bytes,
    // and between them the data it left in the program.
    auto add_section = [&](std::uint64_t raw) {
        std::uint64_t done = 0, at = 0;  // in section.bytes, in the section
        for (const ResourceFromFile& f : section.from_file) {
            const auto from = section.bytes.begin() + static_cast<std::ptrdiff_t>(done);
            plan.add(std::vector<unsigned char>(from, from + static_cast<std::ptrdiff_t>(f.at - at)));
            done += f.at - at;
            plan.add_program(f.source, f.size);
            at = f.at + f.size;
        }
        std::vector<unsigned char> rest = std::move(section.bytes);
        rest.erase(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(done));
        rest.resize(static_cast<std::size_t>(raw - at), 0);
        plan.add(std::move(rest));
    };
    std::uint32_t new_rva = 0;
    std::uint64_t raw_growth = 0;  // of the initialized data
    std::uint64_t new_memory_end = memory_end;
    const std::uint64_t next_va = after != nullptr ? after->virtual_address : UINT64_MAX;

    if (rsrc != nullptr && new_size <= rsrc->raw_size && rsrc->virtual_address + align_up(new_size, sa) <= next_va) {
        r.way = LayoutWay::in_place;
        new_rva = rsrc->virtual_address;
        plan.keep(0, rsrc->raw_offset);
        add_section(rsrc->raw_size);
        plan.keep(std::uint64_t{rsrc->raw_offset} + rsrc->raw_size, end - (std::uint64_t{rsrc->raw_offset} + rsrc->raw_size));
        plan.put32(header_of(rsrc) + 8, static_cast<std::uint32_t>(new_size));
        new_memory_end = std::max(memory_end, rsrc->virtual_address + align_up(new_size, sa));
    } else if (last_but_after) {
        const std::uint64_t raw = std::max<std::uint64_t>(rsrc->raw_size, align_up(new_size, fa));
        raw_growth = raw - rsrc->raw_size;
        if (overlay && raw_growth != 0) {
            return failed(LayoutError::overlay, "the resources would grow into the " +
                                                    std::to_string(end - img.overlay.begin) +
                                                    " bytes that follow the last section");
        }
        r.way = LayoutWay::extended;
        new_rva = rsrc->virtual_address;
        const std::uint64_t after_va = align_up(rsrc->virtual_address + new_size, sa);
        const std::uint64_t after_raw = after == nullptr || raw_growth == 0 ? (after ? after->raw_offset : 0)
                                                                            : rsrc->raw_offset + raw;
        const std::uint64_t after_extent =
            after != nullptr ? align_up(std::max(after->virtual_size, after->raw_size), sa) : 0;
        if (after_va + after_extent > UINT32_MAX) {
            return failed(LayoutError::resources, "the resources would pass the 4 GiB an image can address");
        }
        plan.keep(0, rsrc->raw_offset);
        add_section(raw);
        if (raw_growth == 0) {
            // Nothing moves in the file: what followed stays where it was.
            plan.keep(std::uint64_t{rsrc->raw_offset} + raw, end - (std::uint64_t{rsrc->raw_offset} + raw));
        } else if (after != nullptr) {
            plan.keep(after->raw_offset, after->raw_size);
        }
        plan.put32(header_of(rsrc) + 8, static_cast<std::uint32_t>(new_size));
        plan.put32(header_of(rsrc) + 16, static_cast<std::uint32_t>(raw));
        new_memory_end = after_va;
        if (after != nullptr) {
            plan.put32(header_of(after) + 12, static_cast<std::uint32_t>(after_va));
            plan.put32(header_of(after) + 20, static_cast<std::uint32_t>(after_raw));
            // The directories that pointed into it (the relocations) move along.
            const std::uint64_t shift = after_va - after->virtual_address;
            for (std::size_t i = 0; i < img.directories.size(); ++i) {
                const PeDirectory& d = img.directories[i];
                if (i == kCertificates || d.rva < after->virtual_address || d.rva >= virtual_end(*after, sa)) continue;
                plan.put32(dirs_at + 8 * i, static_cast<std::uint32_t>(d.rva + shift));
            }
            new_memory_end = after_va + after_extent;
        }
    } else {
        // A new section: its header after the last one, in zero bytes the
        // headers hold and no section's raw data begins in.
        const std::uint64_t header = img.section_table.end;
        std::uint64_t room = std::min<std::uint64_t>(img.headers_size, size);
        for (const PeSection& s : img.sections) {
            if (s.has_bytes()) room = std::min<std::uint64_t>(room, s.raw_offset);
        }
        if (header + kSectionSize > room || !zeros(header, header + kSectionSize) || img.sections.size() >= 0xFFFF) {
            return failed(LayoutError::no_room, "the resources fit neither in place nor by growing their section, "
                                                "and the headers have no room for one more section header");
        }
        if (overlay) {
            return failed(LayoutError::overlay, "a new resource section would go where the " +
                                                    std::to_string(end - img.overlay.begin) +
                                                    " bytes after the last section lie");
        }
        const std::uint64_t va = align_up(std::max<std::uint64_t>(memory_end, img.headers_size), sa);
        const std::uint64_t raw_at = align_up(image_end, fa), raw = align_up(new_size, fa);
        if (va + align_up(new_size, sa) > UINT32_MAX || raw_at + raw > UINT32_MAX) {
            return failed(LayoutError::resources, "the resources would pass the 4 GiB an image can address");
        }
        r.way = LayoutWay::new_section;
        new_rva = static_cast<std::uint32_t>(va);
        section = write_resource_tree(tree, new_rva);
        if (!section.ok()) return failed(LayoutError::resources, section.message);
        plan.keep(0, image_end);
        plan.add(std::vector<unsigned char>(static_cast<std::size_t>(raw_at - image_end), 0));
        add_section(raw);
        plan.patches.push_back(FilePatch{header, {'.', 'r', 's', 'r', 'c', 0, 0, 0}});
        plan.put32(header + 8, static_cast<std::uint32_t>(new_size));
        plan.put32(header + 12, new_rva);
        plan.put32(header + 16, static_cast<std::uint32_t>(raw));
        plan.put32(header + 20, static_cast<std::uint32_t>(raw_at));
        plan.put32(header + 36, kInitializedData | kReadable);
        plan.put16(img.pe_offset + 6, static_cast<std::uint32_t>(img.sections.size() + 1));
        raw_growth = raw;
        new_memory_end = va + align_up(new_size, sa);
    }

    if (symbols && raw_growth != 0) {
        // The sections grew over where the symbols were: they follow them again.
        const std::uint64_t symbols_at = plan.new_size();
        if (symbols_at > UINT32_MAX) {
            return failed(LayoutError::resources, "the COFF symbols would pass the 4 GiB their pointer reaches");
        }
        plan.put32(img.pe_offset + 12, static_cast<std::uint32_t>(symbols_at));
        plan.keep(img.symbols_offset, img.string_table.end - img.symbols_offset);
    }

    const std::uint64_t resources_at = dirs_at + 8 * static_cast<unsigned>(PeDirectoryIndex::resources);
    plan.put32(resources_at, new_rva);
    plan.put32(resources_at + 4, static_cast<std::uint32_t>(new_size));
    if (r.certificate_removed) {
        plan.put32(dirs_at + 8 * kCertificates, 0);
        plan.put32(dirs_at + 8 * kCertificates + 4, 0);
    }
    const std::uint64_t opt = img.optional_offset;
    const std::uint32_t image_size = field(opt + kImageSizeAt);
    plan.put32(opt + kImageSizeAt,
               static_cast<std::uint32_t>(std::max<std::uint64_t>(image_size, align_up(new_memory_end, sa))));
    plan.put32(opt + kInitializedSizeAt, static_cast<std::uint32_t>(field(opt + kInitializedSizeAt) + raw_growth));
    if (field(opt + kChecksumAt) != 0) plan.checksum_at = opt + kChecksumAt;
    if (!readable) return failed(LayoutError::not_pe, "the file was cut short while its layout was read");
    return r;
}

LayoutResult lay_out_resources(const unsigned char* file, std::size_t size, const ResourceTree& tree) {
    FileBytes bytes(file, size);
    LayoutResult r = lay_out_resources(bytes, tree);
    if (r.ok()) r.bytes = spliced(r.plan, file, size);
    return r;
}
