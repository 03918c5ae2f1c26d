#include "regex/regexp_engine.h"

namespace sellmeter {
namespace {

RegExpEngine* overridden = nullptr;

}  // namespace

RegExpEngine& RegExps() { return overridden ? *overridden : PlatformRegExpEngine(); }

ScopedRegExpEngine::ScopedRegExpEngine(RegExpEngine& engine) : previous_(overridden) {
  overridden = &engine;
}
ScopedRegExpEngine::~ScopedRegExpEngine() { overridden = previous_; }

}  // namespace sellmeter
