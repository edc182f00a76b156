#include "program_file.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

bool readable_kind(const struct stat& st) { return S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode); }

}  // namespace

bool open_program(const std::string& name, ProgramFile& p) {
    // Looked at before it is opened: opening a device may wait or act, and
    // opening a FIFO twice would lose what its writer wrote.
    struct stat before {};
    if (::stat(name.c_str(), &before) != 0 || !readable_kind(before)) return false;
    int fd = ::open(name.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_dev != before.st_dev || st.st_ino != before.st_ino || !readable_kind(st)) {
        ::close(fd);
        return false;
    }
    p.file = ::fdopen(fd, "rb");
    if (p.file == nullptr) {
        ::close(fd);
        return false;
    }
    p.at_open = st;
    return true;
}

bool read_unchanged(const ProgramFile& p) {
    if (!S_ISREG(p.at_open.st_mode)) return true;
    struct stat now {};
    return ::fstat(::fileno(p.file), &now) == 0 && now.st_size == p.at_open.st_size &&
           ::ftello(p.file) == p.at_open.st_size;
}

void close_program(ProgramFile& p) {
    if (p.file != nullptr) std::fclose(p.file);
    p.file = nullptr;
}
