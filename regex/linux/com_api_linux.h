#pragma once
// There is no COM on Linux; the platform layer only keeps the per-thread initialisation
// count, so that an unbalanced CoInitialize/CoUninitialize shows.
namespace sellmeter {

// Number of CoInitialize calls on this thread not yet ended by a CoUninitialize.
int ComInitializationDepth();

}  // namespace sellmeter
