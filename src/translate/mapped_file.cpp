#include "mapped_file.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <limits>

namespace {

// Released in steps this large: each release costs a flush of the other
// core's address cache (the writer's thread shares the mapping).
constexpr std::int64_t kReleaseStep = std::int64_t{8} << 20;

}  // namespace

bool may_map(const struct stat& st) { return S_ISREG(st.st_mode); }

MappedFile::~MappedFile() {
    if (bytes_ != nullptr) ::munmap(bytes_, static_cast<std::size_t>(size_));
}

bool MappedFile::map(int fd, std::int64_t size) {
    if (size <= 0 || static_cast<std::uint64_t>(size) > std::numeric_limits<std::size_t>::max()) return false;
    void* at = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_SHARED, fd, 0);
    if (at == MAP_FAILED) return false;
    ::madvise(at, static_cast<std::size_t>(size), MADV_SEQUENTIAL);  // a hint: read ahead, drop behind
    bytes_ = static_cast<unsigned char*>(at);
    size_ = size;
    return true;
}

void MappedFile::release_before(std::int64_t offset) {
    const std::int64_t page = ::sysconf(_SC_PAGESIZE);
    const std::int64_t to = offset / page * page;
    if (bytes_ == nullptr || to - released_ < kReleaseStep) return;
    ::madvise(bytes_ + released_, static_cast<std::size_t>(to - released_), MADV_DONTNEED);
    released_ = to;
}
