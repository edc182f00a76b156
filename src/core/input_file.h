// How every program opens the files it reads (the program, the dictionary)
// and tells whether two names are one file.
#pragma once

#include <sys/stat.h>

#include <string>

// Opens name for reading when it is a regular file, or a FIFO where
// fifo is allowed. The name's type is looked at first, so that a device, a
// socket or a folder is never opened (opening a device may wait or act);
// the open descriptor is looked at again, so that what was swapped in
// between is refused too. Returns the descriptor (close-on-exec), with the
// open file's status in st, or -1. Where a FIFO is not allowed, the open
// does not wait for a writer either, should one be swapped in meanwhile.
int open_input(const std::string& name, bool fifo, struct stat& st);

// Whether name is a FIFO, looked at without opening it: a reader that needs
// the bytes twice refuses it before opening would wait for a writer.
bool is_fifo(const std::string& name);

// Whether a and b are the same file: same device and inode, whatever
// names or links led to them.
inline bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
