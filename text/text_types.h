#pragma once
// The two kinds of data every subsystem passes around.
#include <cstdint>
#include <string>
#include <vector>

namespace sellmeter {

// A GBK (code page 936) byte string. Lengths and positions count bytes; positions shown to
// callers are 1-based. It never holds the terminating zero.
using Text = std::string;

// Bytes with their own length; may hold zero bytes. UTF-16 travels as "wide bytes": a
// ByteArray of little-endian code units, two bytes each.
using ByteArray = std::vector<std::uint8_t>;

}  // namespace sellmeter
