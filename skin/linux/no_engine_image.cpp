#include "skin/engine_image.h"

namespace sellmeter {

// No skin engine exists for this host: the load at start-up fails on the empty image and the
// window stays unskinned.
std::span<const std::uint8_t> StoredEngineImage() { return {}; }

}  // namespace sellmeter
