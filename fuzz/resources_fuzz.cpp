// Fuzzes the resource tree on arbitrary bytes taken as a resource section
// mapped at 0x1000: what reads must write, what is written must read back
// as the same tree in the writer's order, and write again to the same bytes,
// also at another RVA.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "resource_tree.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
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
