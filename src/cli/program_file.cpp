#include "program_file.h"

#include <fcntl.h>
#include <unistd.h>

#include "input_file.h"

bool open_program(const std::string& name, ProgramFile& p, bool fifo) {
    struct stat st {};
    int fd = open_input(name, fifo, st);
    if (fd < 0) return false;
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
