#pragma once
// The skin engine image the program carries in its read-only data, defined by the platform
// layer: a Windows build embeds the engine DLL; a host without one gives an empty image.
#include <cstdint>
#include <span>

namespace sellmeter {

std::span<const std::uint8_t> StoredEngineImage();

}  // namespace sellmeter
