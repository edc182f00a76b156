#include "program_file.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

ProgramOpen open_checked(const std::string& name, ProgramFile& p, bool reread) {
    auto readable = [reread](const struct stat& st) { return S_ISREG(st.st_mode) || (!reread && S_ISFIFO(st.st_mode)); };
    // Looked at before it is opened: opening a device may wait or act, and
    // opening a FIFO twice would lose what its writer wrote.
    struct stat before {};
    if (::stat(name.c_str(), &before) != 0) return ProgramOpen::refused;
    if (reread && S_ISFIFO(before.st_mode)) return ProgramOpen::fifo;
    if (!readable(before)) return ProgramOpen::refused;
    // A FIFO put in its place meanwhile must not make the open wait for a
    // writer either; on a regular file O_NONBLOCK changes nothing.
    int fd = ::open(name.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC | (reread ? O_NONBLOCK : 0));
    if (fd < 0) return ProgramOpen::refused;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_dev != before.st_dev || st.st_ino != before.st_ino || !readable(st)) {
        ::close(fd);
        return reread && S_ISFIFO(st.st_mode) ? ProgramOpen::fifo : ProgramOpen::refused;
    }
    p.file = ::fdopen(fd, "rb");
    if (p.file == nullptr) {
        ::close(fd);
        return ProgramOpen::refused;
    }
    p.at_open = st;
    return ProgramOpen::opened;
}

}  // namespace

bool open_program(const std::string& name, ProgramFile& p) {
    return open_checked(name, p, false) == ProgramOpen::opened;
}

ProgramOpen open_rereadable_program(const std::string& name, ProgramFile& p) { return open_checked(name, p, true); }

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
