/* Preloaded into the tool by the safety tests to make one system call fail
 * on purpose. VORLANG_FAULT names them, separated by commas:
 *   fchmod, linkat, renameat  the call fails with EPERM or EIO;
 *   pread                     reading at an offset fails with EIO;
 *   close                     closing a regular file opened for writing
 *                             closes it and reports EIO;
 *   tmpfile                   unnamed files are not supported (EOPNOTSUPP);
 *                             so too with swap, which needs a hidden name;
 *   swap:PATH                 before the mode is set, the copy's hidden name
 *                             is replaced by a link to PATH, as another user
 *                             who can write the folder could do. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

/* VORLANG_FAULT is a comma-separated list; swap:PATH comes last. */
static int fault_is(const char* name) {
    const char* f = getenv("VORLANG_FAULT");
    size_t len = strlen(name);
    for (; f != NULL && *f != '\0'; f = strchr(f, ',') ? strchr(f, ',') + 1 : NULL) {
        if (strncmp(f, name, len) == 0 && (f[len] == ',' || f[len] == '\0')) return 1;
    }
    return 0;
}

static const char* swap_target(void) {
    const char* f = getenv("VORLANG_FAULT");
    const char* swap = f != NULL ? strstr(f, "swap:") : NULL;
    return swap != NULL ? swap + 5 : NULL;
}

typedef void (*any_fn)(void); /* casts from it draw no warning */

/* The call the shim stands in front of; copied, as ISO C has no cast from
 * an object pointer to a function pointer. */
static any_fn next(const char* name) {
    void* found = dlsym(RTLD_NEXT, name);
    any_fn fn;
    memcpy(&fn, &found, sizeof fn);
    return fn;
}

int fchmod(int fd, mode_t mode) {
    const char* victim = swap_target();
    if (victim != NULL) {
        char self[64];
        char path[PATH_MAX];
        snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
        ssize_t got = readlink(self, path, sizeof path - 1);
        if (got > 0) {
            path[got] = '\0';
            unlink(path);
            if (symlink(victim, path) != 0) abort();
        }
    }
    if (fault_is("fchmod")) {
        errno = EPERM;
        return -1;
    }
    return ((int (*)(int, mode_t))next("fchmod"))(fd, mode);
}

int linkat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, int flags) {
    if (fault_is("linkat")) {
        errno = EIO;
        return -1;
    }
    return ((int (*)(int, const char*, int, const char*, int))next("linkat"))(olddirfd, oldpath, newdirfd,
                                                                             newpath, flags);
}

int renameat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath) {
    if (fault_is("renameat")) {
        errno = EIO;
        return -1;
    }
    return ((int (*)(int, const char*, int, const char*))next("renameat"))(olddirfd, oldpath, newdirfd, newpath);
}

ssize_t pread(int fd, void* buf, size_t n, off_t offset) {
    if (fault_is("pread")) {
        errno = EIO;
        return -1;
    }
    return ((ssize_t(*)(int, void*, size_t, off_t))next("pread"))(fd, buf, n, offset);
}

int close(int fd) {
    struct stat st;
    int written = fault_is("close") && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                  (fcntl(fd, F_GETFL) & O_ACCMODE) != O_RDONLY;
    int result = ((int (*)(int))next("close"))(fd);
    if (written) {
        errno = EIO;
        return -1;
    }
    return result;
}

static int takes_mode(int flags) {
#ifdef O_TMPFILE
    if ((flags & O_TMPFILE) == O_TMPFILE) return 1;
#endif
    return (flags & O_CREAT) != 0;
}

static int open_at(const char* name, int dirfd, const char* path, int flags, mode_t mode) {
#ifdef O_TMPFILE
    /* A swap needs the hidden name from the start. */
    if ((fault_is("tmpfile") || swap_target() != NULL) && (flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
#endif
    return ((int (*)(int, const char*, int, ...))next(name))(dirfd, path, flags, mode);
}

#define MODE_ARG(flags, mode)                        \
    mode_t mode = 0;                                 \
    if (takes_mode(flags)) {                         \
        va_list ap;                                  \
        va_start(ap, flags);                         \
        mode = (mode_t)va_arg(ap, int);              \
        va_end(ap);                                  \
    }

int openat(int dirfd, const char* path, int flags, ...) {
    MODE_ARG(flags, mode)
    return open_at("openat", dirfd, path, flags, mode);
}

int openat64(int dirfd, const char* path, int flags, ...) {
    MODE_ARG(flags, mode)
    return open_at("openat64", dirfd, path, flags, mode);
}
