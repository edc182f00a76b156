// Where bytes written in order go, when not straight to a file: false when
// they cannot be written.
#pragma once

#include <cstddef>
#include <functional>

using ByteSink = std::function<bool(const unsigned char* data, std::size_t n)>;
