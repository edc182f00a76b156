// Fuzzes the resource tree on arbitrary bytes taken as a resource section
// mapped at 0x1000: what reads must write, what is written must read back
// as the same tree in the writer's order, and write again to the same bytes,
// also at another RVA. Bytes that begin with "MZ" are a PE image too: its
// tree, laid out again with one resource grown, must read back.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "pe_layout.h"

namespace {

void lay_out(const std::uint8_t* data, std::size_t size) {
    FileBytes file(data, size);
    const std::optional<PeImage> img = read_pe_image(file);
    if (!img) return;
    ResourceRead r = read_resource_tree(file, *img);
    if (!r.ok() || r.tree.entries.empty()) return;
    r.tree.entries[0].data.resize(r.tree.entries[0].data.size() * 2 + 700, 0x5A);
    const LayoutResult out = lay_out_resources(data, size, r.tree);
    if (!out.ok()) {
        if (!out.bytes.empty() || out.message.empty()) std::abort();
        return;
    }
    FileBytes new_file(out.bytes.data(), out.bytes.size());
    const std::optional<PeImage> new_img = read_pe_image(new_file);
    if (!new_img) std::abort();
    const ResourceRead back = read_resource_tree(new_file, *new_img);
    if (!back.ok() || back.tree.entries.size() != r.tree.entries.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size >= 2 && data[0] == 'M' && data[1] == 'Z') lay_out(data, size);
    constexpr std::uint32_t kRva = 0x1000;
    const ResourceRead r = read_resource_tree(data, size, kRva);
    if (!r.ok()) {
        if (r.message.empty() || !r.tree.entries.empty()) std::abort();
        return 0;
    }
    const ResourceImage w = write_resource_tree(r.tree, kRva);
    // A file may name one resource twice; nothing else stops the writer.
    if (!w.ok()) {
        if (w.error != ResourceError::duplicate) std::abort();
        return 0;
    }
    const ResourceRead back = read_resource_tree(w.bytes.data(), w.bytes.size(), kRva);
    if (!back.ok() || back.tree.entries.size() != r.tree.entries.size()) std::abort();
    for (const ResourceEntry& e : r.tree.entries) {
        if (std::find(back.tree.entries.begin(), back.tree.entries.end(), e) == back.tree.entries.end()) std::abort();
    }
    if (write_resource_tree(back.tree, kRva).bytes != w.bytes) std::abort();
    const ResourceImage moved = write_resource_tree(back.tree, 0x40000);
    const ResourceRead there = read_resource_tree(moved.bytes.data(), moved.bytes.size(), 0x40000);
    if (!there.ok() || there.tree != back.tree || moved.bytes.size() != w.bytes.size()) std::abort();
    return 0;
}
