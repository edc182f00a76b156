#include "output_file.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <new>
#include <vector>

#include "input_file.h"

namespace {

#ifdef O_PATH
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// As many links as the system follows in one name before it gives up.
constexpr int kMaxLinks = 40;

// The hidden name: "." + the output's name, cut + "." + six random letters.
constexpr std::size_t kTempSuffix = 8;
constexpr int kTempTries = 100;

// What the signal handler removes; only changed while the signals are
// blocked. An empty name: nothing to remove.
int g_folder = -1;
char g_temp[NAME_MAX + 1];

extern "C" void remove_temp_and_die(int sig) {
    int saved = errno;
    if (g_temp[0] != '\0') ::unlinkat(g_folder, g_temp, 0);
    errno = saved;
    std::signal(sig, SIG_DFL);
    std::raise(sig);  // delivered with the default action once the handler returns
}

// Every signal that ends the process by default and can be caught.
std::vector<int> cleanup_signals() {
    std::vector<int> sigs = {SIGHUP,  SIGINT,  SIGQUIT, SIGILL,    SIGTRAP, SIGABRT, SIGBUS,
                             SIGFPE,  SIGUSR1, SIGSEGV, SIGUSR2,   SIGPIPE, SIGALRM, SIGTERM,
                             SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGSYS};
#ifdef SIGSTKFLT
    sigs.push_back(SIGSTKFLT);
#endif
#ifdef SIGPOLL
    sigs.push_back(SIGPOLL);
#endif
#ifdef SIGPWR
    sigs.push_back(SIGPWR);
#endif
#ifdef SIGRTMIN
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) sigs.push_back(sig);
#endif
    return sigs;
}

class SignalsBlocked {
public:
    SignalsBlocked() {
        sigset_t set;
        sigemptyset(&set);
        for (int sig : cleanup_signals()) sigaddset(&set, sig);
        ::pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalsBlocked() { ::pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    SignalsBlocked(const SignalsBlocked&) = delete;
    SignalsBlocked& operator=(const SignalsBlocked&) = delete;

private:
    sigset_t old_;
};

void watch(int folder) {
    g_folder = folder;
    g_temp[0] = '\0';
    struct sigaction sa {};
    sa.sa_handler = remove_temp_and_die;
    sigemptyset(&sa.sa_mask);
    for (int sig : cleanup_signals()) {
        struct sigaction old {};
        ::sigaction(sig, nullptr, &old);
        // A signal the caller chose to ignore stays ignored.
        if (old.sa_handler != SIG_IGN) ::sigaction(sig, &sa, nullptr);
    }
}

void unwatch() {
    for (int sig : cleanup_signals()) {
        struct sigaction old {};
        ::sigaction(sig, nullptr, &old);
        if (old.sa_handler == remove_temp_and_die) std::signal(sig, SIG_DFL);
    }
    g_temp[0] = '\0';
    g_folder = -1;
}

// Called with the signals blocked.
void set_temp(OutputCopy& out, const std::string& temp) {
    out.temp = temp;
    std::memcpy(g_temp, temp.c_str(), temp.size() + 1);
}

void remove_temp(OutputCopy& out) {
    if (out.temp.empty()) return;
    ::unlinkat(out.folder, out.temp.c_str(), 0);
    out.temp.clear();
    g_temp[0] = '\0';
}

mode_t current_umask() {
    mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

std::string hidden_name(const std::string& base) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::array<unsigned char, kTempSuffix - 2> random{};
    if (::getrandom(random.data(), random.size(), GRND_NONBLOCK) != static_cast<ssize_t>(random.size())) {
        auto seed = static_cast<unsigned long>(::getpid()) ^ static_cast<unsigned long>(std::time(nullptr)) ^
                    static_cast<unsigned long>(std::clock());
        for (auto& r : random) r = static_cast<unsigned char>(seed >>= 3);
    }
    std::string name(1, '.');
    name.append(base, 0, NAME_MAX - kTempSuffix).push_back('.');
    for (unsigned char r : random) name += kLetters[r % (sizeof kLetters - 1)];
    return name;
}

// Pushes the names of path onto todo, the first name last, so that todo
// is walked from its back. "a//b/" gives a, "", b and "": an empty name
// stands for the folder it is in, and is no file as the last name.
void push_names(const std::string& path, std::vector<std::string>& todo) {
    std::vector<std::string> names;
    std::size_t at = path.empty() || path[0] != '/' ? 0 : 1;
    for (;;) {
        std::size_t slash = path.find('/', at);
        names.push_back(path.substr(at, slash == std::string::npos ? std::string::npos : slash - at));
        if (slash == std::string::npos) break;
        at = slash + 1;
    }
    todo.insert(todo.end(), names.rbegin(), names.rend());
}

// In a sticky folder that everyone may write (a shared /tmp), a link is
// followed only when it belongs to whoever runs the tool or to the folder's
// owner: another user could otherwise plant one that makes the run replace
// any file the runner may write. The kernel holds opening by name to the
// same rule where it is switched on; here it holds always.
bool may_follow(int dir, const struct stat& link) {
    struct stat folder {};
    if (::fstat(dir, &folder) != 0) return false;
    bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    return !shared || link.st_uid == ::geteuid() || link.st_uid == folder.st_uid;
}

// Folder descriptor that closes itself.
struct Folder {
    int fd = -1;
    ~Folder() { reset(-1); }
    void reset(int to) {
        if (fd >= 0) ::close(fd);
        fd = to;
    }
};

// Follows path as opening it for writing would, but one name at a time from
// a folder's descriptor, reading each link itself: the kernel never follows
// a link here, so the rule for links in shared folders holds for the folders
// on the way as for the last name, whatever the system's own setting. On
// success out.folder and out.name name the file, and exists tells whether it
// is there (in st).
bool find_target(const std::string& path, OutputCopy& out, struct stat& st, bool& exists) {
    std::vector<std::string> todo;
    push_names(path, todo);
    Folder dir;
    dir.reset(::open(!path.empty() && path[0] == '/' ? "/" : ".", kFolderFlags));
    int links = 0;
    while (dir.fd >= 0 && !todo.empty()) {
        const std::string name = std::move(todo.back());
        todo.pop_back();
        const bool last = todo.empty();
        if (name.empty() || name == ".") {
            if (last) return false;  // a folder, not a file
            continue;
        }
        if (name == "..") {
            if (last) return false;
            dir.reset(::openat(dir.fd, "..", kFolderFlags));
            continue;
        }
        struct stat here {};
        if (::fstatat(dir.fd, name.c_str(), &here, AT_SYMLINK_NOFOLLOW) != 0) {
            if (!last || errno != ENOENT) return false;
            exists = false;
        } else if (S_ISLNK(here.st_mode)) {
            if (++links > kMaxLinks || !may_follow(dir.fd, here)) return false;
            std::vector<char> link(PATH_MAX + 1);
            ssize_t got = ::readlinkat(dir.fd, name.c_str(), link.data(), link.size());
            if (got <= 0 || static_cast<std::size_t>(got) >= link.size()) return false;
            const std::string to(link.data(), static_cast<std::size_t>(got));
            push_names(to, todo);
            if (to[0] == '/') dir.reset(::open("/", kFolderFlags));
            continue;
        } else if (!last) {
            // O_NOFOLLOW: a link swapped in since is refused, not followed.
            dir.reset(::openat(dir.fd, name.c_str(), kFolderFlags | O_NOFOLLOW));
            continue;
        } else {
            exists = true;
            st = here;
        }
        out.folder = dir.fd;
        dir.fd = -1;
        out.name = name;
        return true;
    }
    return false;  // a folder that would not open, or too long a chain
}

// A folder that refuses to remove or rename a name in it (append-only, or
// immutable) would keep the copy's hidden name and never give it the
// output's: nothing is written there.
bool keeps_names(int folder) {
#ifdef FS_IOC_GETFLAGS
    int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;  // cannot be asked; a refusal later still leaves nothing but a hidden name
    int flags = 0;
    bool asked = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    ::close(fd);
    return asked && (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0;
#else
    (void)folder;
    return false;
#endif
}

// The copy as an unnamed file in the folder, where the system has them.
int create_unnamed(const OutputCopy& out) {
#ifdef O_TMPFILE
    // Naming it later takes either the privilege to link any descriptor or
    // the process's descriptor folder.
    if (::geteuid() != 0 && ::access("/proc/self/fd", X_OK) != 0) return -1;
    return ::openat(out.folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
#else
    (void)out;
    return -1;
#endif
}

// Gives the unnamed copy a hidden name.
bool link_unnamed(OutputCopy& out) {
    for (int tries = 0; tries < kTempTries; ++tries) {
        std::string temp = hidden_name(out.name);
        int linked = ::linkat(out.fd, "", out.folder, temp.c_str(), AT_EMPTY_PATH);
        if (linked != 0 && errno != EEXIST) {
            std::string self = "/proc/self/fd/" + std::to_string(out.fd);
            linked = ::linkat(AT_FDCWD, self.c_str(), out.folder, temp.c_str(), AT_SYMLINK_FOLLOW);
        }
        if (linked == 0) {
            set_temp(out, temp);
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

// The copy under a new hidden name, for file systems without unnamed files.
int create_hidden(OutputCopy& out) {
    for (int tries = 0; tries < kTempTries; ++tries) {
        std::string temp = hidden_name(out.name);
        int fd = ::openat(out.folder, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            set_temp(out, temp);
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

void close_folder(OutputCopy& out) {
    if (out.folder >= 0) ::close(out.folder);
    out.folder = -1;
}

}  // namespace

OutputStatus PendingOutput::open(const std::string& name, const struct stat& program,
                                 const struct stat& dictionary) {
    OutputCopy& out = copy_;
    try {
        struct stat st {};
        bool exists = false;
        if (!find_target(name, out, st, exists)) return OutputStatus::cannot_create;
        if (keeps_names(out.folder)) {
            close_folder(out);
            return OutputStatus::cannot_create;
        }
        const mode_t mask = current_umask();
        if (exists) {
            if (same_file(st, program) || same_file(st, dictionary)) {
                close_folder(out);
                return same_file(st, program) ? OutputStatus::is_program : OutputStatus::is_dictionary;
            }
            // Where the output could not be opened for writing, it is not
            // replaced either; nor is anything but a regular file.
            if (!S_ISREG(st.st_mode) || ::faccessat(out.folder, out.name.c_str(), W_OK, AT_EACCESS) != 0) {
                close_folder(out);
                return OutputStatus::cannot_create;
            }
            out.mode = st.st_mode & 0777;  // never set-user-ID, set-group-ID or sticky
        } else {
            out.mode = 0666 & ~mask;
        }
        out.mode |= 0111 & ~mask;

        SignalsBlocked blocked;
        watch(out.folder);
        out.fd = create_unnamed(out);
        out.unnamed = out.fd >= 0;
        if (!out.unnamed) out.fd = create_hidden(out);
        int dup = out.fd >= 0 ? ::fcntl(out.fd, F_DUPFD_CLOEXEC, 0) : -1;
        file_ = dup >= 0 ? ::fdopen(dup, "wb") : nullptr;
        if (file_ == nullptr) {
            if (dup >= 0) ::close(dup);
            discard();
            return OutputStatus::cannot_create;
        }
        return OutputStatus::ok;
    } catch (const std::bad_alloc&) {
        discard();
        return OutputStatus::out_of_memory;
    }
}

bool PendingOutput::commit() {
    OutputCopy& out = copy_;
    try {
        SignalsBlocked blocked;
        bool ok = file_ != nullptr && std::fclose(file_) == 0;
        file_ = nullptr;
        // The mode is set as marking the copy executable always was: when the
        // file system refuses it, the copy keeps the owner-only mode it was
        // made with.
        (void)::fchmod(out.fd, out.mode);
        struct stat mine {};
        ok = ok && ::fstat(out.fd, &mine) == 0 && (!out.unnamed || link_unnamed(out));
        ok = ::close(out.fd) == 0 && ok;
        out.fd = -1;
        // Whoever can write the folder may have put something else under the
        // hidden name: only our own copy becomes the output.
        struct stat named {};
        ok = ok && ::fstatat(out.folder, out.temp.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
             named.st_dev == mine.st_dev && named.st_ino == mine.st_ino;
        ok = ok && ::renameat(out.folder, out.temp.c_str(), out.folder, out.name.c_str()) == 0;
        if (ok) {
            out.temp.clear();
            g_temp[0] = '\0';
        }
        discard();
        return ok;
    } catch (const std::bad_alloc&) {
        discard();
        return false;
    }
}

void PendingOutput::discard() {
    OutputCopy& out = copy_;
    if (out.folder < 0 && file_ == nullptr && out.fd < 0) return;  // nothing open, nothing watched
    SignalsBlocked blocked;
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    if (out.fd >= 0) ::close(out.fd);
    out.fd = -1;
    remove_temp(out);
    unwatch();
    close_folder(out);
}
