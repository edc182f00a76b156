#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The temporary file's name, for the signal handler; only changed while the
// cleanup signals are blocked.
char* g_temp_path = nullptr;

extern "C" void remove_temp_and_die(int sig) {
    if (g_temp_path != nullptr) ::unlink(g_temp_path);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

sigset_t cleanup_set() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kCleanupSignals) sigaddset(&set, sig);
    return set;
}

class SignalsBlocked {
public:
    SignalsBlocked() {
        sigset_t set = cleanup_set();
        ::sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalsBlocked() { ::sigprocmask(SIG_SETMASK, &old_, nullptr); }
    SignalsBlocked(const SignalsBlocked&) = delete;
    SignalsBlocked& operator=(const SignalsBlocked&) = delete;

private:
    sigset_t old_;
};

void watch_temp(const std::string& temp) {
    g_temp_path = ::strdup(temp.c_str());
    struct sigaction sa {};
    sa.sa_handler = remove_temp_and_die;
    sigemptyset(&sa.sa_mask);
    for (int sig : kCleanupSignals) {
        struct sigaction old {};
        ::sigaction(sig, nullptr, &old);
        // A signal the caller chose to ignore stays ignored.
        if (old.sa_handler != SIG_IGN) ::sigaction(sig, &sa, nullptr);
    }
}

void unwatch_temp() {
    for (int sig : kCleanupSignals) {
        struct sigaction old {};
        ::sigaction(sig, nullptr, &old);
        if (old.sa_handler == remove_temp_and_die) std::signal(sig, SIG_DFL);
    }
    std::free(g_temp_path);
    g_temp_path = nullptr;
}

mode_t current_umask() {
    mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// Writing through a link writes the file it names, as opening the name for
// writing would.
std::string resolve_target(const std::string& name) {
    struct stat st {};
    if (::lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(name.c_str(), nullptr)) {
            std::string target = real;
            std::free(real);
            return target;
        }
    }
    return name;
}

std::string folder_of(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string base_of(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

OutputStatus open_output(const std::string& name, PendingOutput& out) {
    try {
        out.target = resolve_target(name);
        const mode_t mask = current_umask();
        struct stat st {};
        if (::stat(out.target.c_str(), &st) == 0) {
            // Where the output could not be opened for writing, it is not
            // replaced either.
            if (S_ISDIR(st.st_mode) || ::access(out.target.c_str(), W_OK) != 0) {
                return OutputStatus::cannot_create;
            }
            out.mode = st.st_mode & 07777;
        } else {
            out.mode = 0666 & ~mask;
        }
        out.mode |= 0111 & ~mask;

        std::string base = base_of(out.target);
        if (base.size() > NAME_MAX) return OutputStatus::cannot_create;
        // Keep the temporary name within the file system's name limit.
        if (base.size() > NAME_MAX - 16) base.resize(NAME_MAX - 16);
        std::string folder = folder_of(out.target);
        out.temp = (folder == "/" ? "" : folder) + "/." + base + ".XXXXXX";

        SignalsBlocked blocked;
        int fd = ::mkstemp(out.temp.data());
        if (fd < 0) return OutputStatus::cannot_create;
        out.file = ::fdopen(fd, "wb");
        if (out.file == nullptr) {
            ::close(fd);
            ::unlink(out.temp.c_str());
            return OutputStatus::cannot_create;
        }
        watch_temp(out.temp);
        return OutputStatus::ok;
    } catch (const std::bad_alloc&) {
        return OutputStatus::out_of_memory;
    }
}

bool commit_output(PendingOutput& out) {
    out.file = nullptr;
    SignalsBlocked blocked;
    // The mode is best effort, as marking a copy executable always was; the
    // copy itself is what must not be lost.
    (void)::chmod(out.temp.c_str(), out.mode);
    bool renamed = ::rename(out.temp.c_str(), out.target.c_str()) == 0;
    if (!renamed) ::unlink(out.temp.c_str());
    unwatch_temp();
    return renamed;
}

void discard_output(PendingOutput& out) {
    SignalsBlocked blocked;
    if (out.file != nullptr) std::fclose(out.file);
    out.file = nullptr;
    ::unlink(out.temp.c_str());
    unwatch_temp();
}
