#include "regex/com_api.h"

namespace sellmeter {
namespace {

ComApi* overridden = nullptr;

}  // namespace

ComApi& Com() { return overridden ? *overridden : PlatformComApi(); }

ScopedComApi::ScopedComApi(ComApi& api) : previous_(overridden) { overridden = &api; }
ScopedComApi::~ScopedComApi() { overridden = previous_; }

}  // namespace sellmeter
