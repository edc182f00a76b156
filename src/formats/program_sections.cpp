#include "program_sections.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <exception>

#include "section_readers.h"

namespace {

// Reads up to n bytes; fewer only at the end of the file (which may have
// been cut short since) or on an error.
std::size_t pread_some(int fd, unsigned char* out, std::size_t n, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < n) {
        ssize_t got = ::pread(fd, out + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

// Sorts the reader's ranges; sections that overlap mean headers that make
// no sense.
ProgramMap tidy(ProgramMap m) {
    std::sort(m.sections.begin(), m.sections.end(),
              [](const Section& a, const Section& b) { return a.range.begin < b.range.begin; });
    for (std::size_t i = 1; i < m.sections.size(); ++i) {
        if (m.sections[i].range.begin < m.sections[i - 1].range.end) return {};
    }
    auto before = [](const FileRange& a, const FileRange& b) { return a.begin < b.begin; };
    if (!std::is_sorted(m.hidden.begin(), m.hidden.end(), before)) std::sort(m.hidden.begin(), m.hidden.end(), before);
    std::vector<FileRange> merged;
    for (const FileRange& r : m.hidden) {
        if (r.begin >= r.end) continue;
        if (!merged.empty() && r.begin <= merged.back().end) {
            merged.back().end = std::max(merged.back().end, r.end);
        } else {
            merged.push_back(r);
        }
    }
    m.hidden = std::move(merged);
    return m;
}

ProgramMap read_map(FileBytes& file) noexcept {
    try {
        unsigned char magic[4];
        if (!file.read(0, magic, sizeof magic)) return {};
        ProgramMap m;
        if (std::memcmp(magic, "\x7F" "ELF", 4) == 0) {
            m = read_elf_map(file);
        } else if (magic[0] == 'M' && magic[1] == 'Z') {
            m = read_pe_map(file);
        }
        return m.format == ProgramFormat::unknown ? ProgramMap{} : tidy(std::move(m));
    } catch (const std::exception&) {  // out of memory: the callers expect no exception
        return {};
    }
}

// The last range that begins at or before offset, or end.
template <typename It, typename Range>
It last_at(It begin, It end, std::uint64_t offset, Range range) {
    It it = std::upper_bound(begin, end, offset,
                             [&](std::uint64_t o, const auto& x) { return o < range(x).begin; });
    if (it == begin) return end;
    --it;
    return offset < range(*it).end ? it : end;
}

}  // namespace

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
        return pread_some(fd_, to, n, offset) == n;
    }
    if (cache_.empty()) cache_.resize(kSlots * block_);
    while (n > 0) {
        const std::uint64_t block = offset / block_;
        Slot& slot = slots_[block % kSlots];
        unsigned char* bytes = cache_.data() + (block % kSlots) * block_;
        if (slot.block != block) {
            const std::uint64_t at = block * block_;
            slot.block = block;
            slot.size = pread_some(fd_, bytes, static_cast<std::size_t>(std::min<std::uint64_t>(block_, size_ - at)), at);
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

ProgramMap read_program_map(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return {};
    FileBytes file(fd, static_cast<std::uint64_t>(st.st_size));
    return read_map(file);
}

ProgramMap read_program_map(const unsigned char* data, std::uint64_t size) {
    FileBytes file(data, data == nullptr ? 0 : size);
    return read_map(file);
}

bool is_hidden(const ProgramMap& map, std::uint64_t offset) {
    auto end = map.hidden.end();
    return last_at(map.hidden.begin(), end, offset, [](const FileRange& r) { return r; }) != end;
}

const Section* section_at(const ProgramMap& map, std::uint64_t offset) {
    auto end = map.sections.end();
    auto it = last_at(map.sections.begin(), end, offset, [](const Section& s) { return s.range; });
    return it == end ? nullptr : &*it;
}
