#include "exist_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool exist_file(const std::string& name) {
    if (name.empty()) return false;
    // Only a regular file is opened to see whether it opens. Anything else
    // is asked for read permission instead: opening a FIFO would let a
    // waiting writer start and lose what it wrote, opening a device may wait
    // or act. Such a file exists; the open that follows refuses it.
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0) return false;
    if (!S_ISREG(st.st_mode)) return ::faccessat(AT_FDCWD, name.c_str(), R_OK, AT_EACCESS) == 0;
    int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}
