#include "input_file.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

bool wanted(const struct stat& st, bool fifo) { return S_ISREG(st.st_mode) || (fifo && S_ISFIFO(st.st_mode)); }

}  // namespace

bool is_fifo(const std::string& name) {
    struct stat st {};
    return ::stat(name.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

int open_input(const std::string& name, bool fifo, struct stat& st) {
    struct stat before {};
    if (name.empty() || ::stat(name.c_str(), &before) != 0 || !wanted(before, fifo)) return -1;
    int fd = ::open(name.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC | (fifo ? 0 : O_NONBLOCK));
    if (fd < 0) return -1;
    if (::fstat(fd, &st) != 0 || !same_file(st, before) || !wanted(st, fifo)) {
        ::close(fd);
        return -1;
    }
    return fd;
}
