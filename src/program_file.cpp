#include "program_file.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

// Opening never blocks here: a FIFO without a writer, or a device that waits
// for a carrier, is looked at before it is read.
int open_to_look(const std::string& name) {
    return ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

}  // namespace

bool open_program(const std::string& name, ProgramFile& p) {
    int fd = open_to_look(name);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode))) {
        ::close(fd);
        return false;
    }
    if (S_ISFIFO(st.st_mode)) {
        // A FIFO opened without blocking reads as empty until a writer comes:
        // open it again, waiting, and make sure it is still the same one.
        ::close(fd);
        fd = ::open(name.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
        struct stat again {};
        if (fd < 0) return false;
        if (::fstat(fd, &again) != 0 || again.st_dev != st.st_dev || again.st_ino != st.st_ino) {
            ::close(fd);
            return false;
        }
    } else {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
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
