#include "program_file.h"

#include <fcntl.h>
#include <unistd.h>

#include "input_file.h"

ProgramFile::~ProgramFile() {
    if (file_ != nullptr) std::fclose(file_);
}

bool ProgramFile::open(const std::string& name, bool fifo) {
    struct stat st {};
    int fd = open_input(name, fifo, st);
    if (fd < 0) return false;
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) {
        ::close(fd);
        return false;
    }
    if (file_ != nullptr) std::fclose(file_);
    file_ = file;
    at_open_ = st;
    return true;
}

bool ProgramFile::read_unchanged() const {
    if (!S_ISREG(at_open_.st_mode)) return true;
    struct stat now {};
    return ::fstat(::fileno(file_), &now) == 0 && now.st_size == at_open_.st_size &&
           ::ftello(file_) == at_open_.st_size;
}
