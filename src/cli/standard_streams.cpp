#include "standard_streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
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
    // A flush is a write: the progress of a 512 MiB file, a line per
    // 100,000 bytes, cost 5,000 of them, about a tenth of the run. Ten a
    // second show the counter as well.
    using Clock = std::chrono::steady_clock;
    return [flush, last = Clock::time_point{}](std::string_view text) mutable {
        std::fwrite(text.data(), 1, text.size(), stdout);
        if (!flush) return;
        const Clock::time_point now = Clock::now();
        if (now - last < std::chrono::milliseconds(100)) return;
        std::fflush(stdout);
        last = now;
    };
}

MessageSink to_standard_error() {
    return [](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); };
}
