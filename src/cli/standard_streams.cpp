#include "standard_streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "input_file.h"

void occupy_closed_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        // open takes the lowest free descriptor, which is fd.
        int got = ::open("/dev/null", O_RDONLY);
        if (got != fd) std::abort();  // no /dev/null: nothing safe is left to do
    }
}

bool close_standard_output() {
    bool ok = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    // The descriptor, not the stream: a failure can still be reported, and
    // the stream's empty buffer is all that is flushed at exit.
    return ::close(STDOUT_FILENO) == 0 && ok;
}

bool is_standard_output(const char* name) {
    struct stat out {};
    struct stat file {};
    return ::fstat(STDOUT_FILENO, &out) == 0 && ::stat(name, &file) == 0 && same_file(out, file);
}

MessageSink to_standard_output(bool flush) {
    return [flush](std::string_view text) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        if (flush) std::fflush(stdout);
    };
}

MessageSink to_standard_error() {
    return [](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); };
}
