// The file bytes the format readers read (see section_readers.h): kept apart
// from the section map so that the PE model links without libelf.
#include "section_readers.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "positioned_io.h"

// E.g. 6 bytes at 0x7FFE with 16 KiB blocks: 2 from block 1 (slot 1) at
// 0x3FFE in it, then 4 from block 2 (slot 2) at 0.
bool FileBytes::read(std::uint64_t offset, void* out, std::size_t n) {
    if (offset > size_ || n > size_ - offset) return false;
    if (data_ != nullptr) {
        if (n > 0) std::memcpy(out, data_ + offset, n);
        return true;
    }
    auto* to = static_cast<unsigned char*>(out);
    if (n >= block_) {
        bytes_read_ += n;
        return read_at(fd_, to, n, offset) == n;
    }
    if (cache_.empty()) cache_.resize(kSlots * block_);
    while (n > 0) {
        const std::uint64_t block = offset / block_;
        Slot& slot = slots_[block % kSlots];
        unsigned char* bytes = cache_.data() + (block % kSlots) * block_;
        if (slot.block != block) {
            const std::uint64_t at = block * block_;
            slot.block = block;
            slot.size = read_at(fd_, bytes, static_cast<std::size_t>(std::min<std::uint64_t>(block_, size_ - at)), at);
            bytes_read_ += slot.size;
        }
        const std::size_t in = static_cast<std::size_t>(offset - block * block_);
        const std::size_t k = std::min(n, block_ - in);
        assert(in < block_ && k > 0);
        if (in + k > slot.size) return false;  // cut short
        std::memcpy(to, bytes + in, k);
        to += k;
        offset += k;
        n -= k;
    }
    return true;
}
