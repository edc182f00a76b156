// The UTF-16LE code unit, as every reader of wide texts takes it.
#pragma once

#include <cstdint>

// The 16-bit little-endian unit at p.
inline std::uint16_t unit_at(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
