// Reads and writes at a file offset, going on after short transfers and
// interruptions. The descriptor's own position is neither used nor moved,
// so threads may share one descriptor.
#pragma once

#include <cstddef>
#include <cstdint>

// Reads up to n bytes at offset; fewer only at the end of the file (which
// may have been cut short since) or on an error.
std::size_t read_at(int fd, unsigned char* out, std::size_t n, std::uint64_t offset);

// Writes the n bytes at offset; false on an error.
bool write_at(int fd, const unsigned char* data, std::size_t n, std::uint64_t offset);
