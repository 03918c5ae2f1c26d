// The accessors of the request engine's two platform interfaces.
#include "http/ado_stream_api.h"
#include "http/winhttp_api.h"

namespace sellmeter {
namespace {

WinHttpApi* winHttpOverride = nullptr;
AdoStreamApi* adoStreamOverride = nullptr;

}  // namespace

WinHttpApi& WinHttp() { return winHttpOverride != nullptr ? *winHttpOverride : PlatformWinHttpApi(); }

ScopedWinHttpApi::ScopedWinHttpApi(WinHttpApi& api) : previous_(winHttpOverride) {
  winHttpOverride = &api;
}
ScopedWinHttpApi::~ScopedWinHttpApi() { winHttpOverride = previous_; }

AdoStreamApi& AdoStreams() {
  return adoStreamOverride != nullptr ? *adoStreamOverride : PlatformAdoStreamApi();
}

ScopedAdoStreamApi::ScopedAdoStreamApi(AdoStreamApi& api) : previous_(adoStreamOverride) {
  adoStreamOverride = &api;
}
ScopedAdoStreamApi::~ScopedAdoStreamApi() { adoStreamOverride = previous_; }

}  // namespace sellmeter
