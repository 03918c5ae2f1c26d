#include "download/wininet_api.h"

namespace sellmeter {

namespace {
WinInetApi* g_override = nullptr;
}  // namespace

WinInetApi& WinInet() { return g_override != nullptr ? *g_override : PlatformWinInetApi(); }

ScopedWinInetApi::ScopedWinInetApi(WinInetApi& api) : previous_(g_override) { g_override = &api; }

ScopedWinInetApi::~ScopedWinInetApi() { g_override = previous_; }

}  // namespace sellmeter
