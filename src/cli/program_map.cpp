#include "program_map.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <utility>

namespace {

// The mapping a signal handler may ask about; the failure only changes
// while no mapping is published.
std::atomic<std::uintptr_t> g_begin{0};
std::atomic<std::uintptr_t> g_end{0};
const char* g_lost = nullptr;
std::size_t g_lost_len = 0;
int g_lost_status = 0;
int g_lost_fd = STDERR_FILENO;

}  // namespace

ProgramMap::~ProgramMap() { unmap(); }

bool ProgramMap::map(const ProgramFile& program, Failure lost) {
    unmap();
    const struct stat& st = program.at_open();
    if (program.file() == nullptr || !S_ISREG(st.st_mode) || st.st_size <= 0) return false;
    const auto size = static_cast<std::size_t>(st.st_size);
    if (static_cast<off_t>(size) != st.st_size) return false;
    void* at = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE, ::fileno(program.file()), 0);
    if (at == MAP_FAILED) return false;
    ::madvise(at, size, MADV_SEQUENTIAL);
    data_ = static_cast<unsigned char*>(at);
    size_ = size;
    lost_ = std::move(lost);
    g_lost = lost_.message.data();
    g_lost_len = lost_.message.size();
    g_lost_status = lost_.status;
    g_lost_fd = lost_.on_stdout ? STDOUT_FILENO : STDERR_FILENO;
    g_end.store(reinterpret_cast<std::uintptr_t>(data_) + size_);
    g_begin.store(reinterpret_cast<std::uintptr_t>(data_));
    return true;
}

bool ProgramMap::unchanged(const ProgramFile& program) const {
    struct stat now {};
    return ::fstat(::fileno(program.file()), &now) == 0 && now.st_size == static_cast<off_t>(size_);
}

void ProgramMap::unmap() {
    if (data_ == nullptr) return;
    g_begin.store(0);
    g_end.store(0);
    ::munmap(data_, size_);
    data_ = nullptr;
    size_ = 0;
}

void end_if_program_lost(const void* addr) {
    const auto a = reinterpret_cast<std::uintptr_t>(addr);
    const std::uintptr_t begin = g_begin.load();
    if (begin == 0 || a < begin || a >= g_end.load()) return;
    for (std::size_t done = 0; done < g_lost_len;) {
        ssize_t n = ::write(g_lost_fd, g_lost + done, g_lost_len - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    ::_exit(g_lost_status);
}
