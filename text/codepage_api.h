#pragma once
// The two code-page operations the conversions rest on, shaped after MultiByteToWideChar and
// WideCharToMultiByte: a length of -1 means "zero-terminated, terminator counted"; an output
// size of 0 asks for the size only; the result is the count of units (or bytes) written or
// needed, 0 on failure.
#include <cstdint>

#include "text/seam.h"

namespace sellmeter {

inline constexpr unsigned kCpAcp = 0;
inline constexpr unsigned kCpGbk = 936;
inline constexpr unsigned kCp1252 = 1252;
inline constexpr unsigned kCpUtf8 = 65001;
inline constexpr std::uint32_t kWcCompositeCheck = 0x200;

class CodePageApi {
 public:
  virtual ~CodePageApi() = default;
  virtual int MultiByteToWideChar(unsigned codePage, std::uint32_t flags, const char* source,
                                  int sourceLength, char16_t* wide, int wideSize) = 0;
  virtual int WideCharToMultiByte(unsigned codePage, std::uint32_t flags, const char16_t* source,
                                  int sourceLength, char* out, int outSize,
                                  const char* defaultChar, bool* usedDefaultChar) = 0;
};

// The platform's implementation, defined by the platform layer (text/linux or text/win32).
CodePageApi& PlatformCodePageApi();

// Puts another implementation in force for its lifetime (tests use it for fakes).
using ScopedCodePageApi = SeamOverride<CodePageApi>;

// The implementation in force: the platform's unless a ScopedCodePageApi replaces it.
inline CodePageApi& CodePages() { return ScopedCodePageApi::InForce(PlatformCodePageApi); }

}  // namespace sellmeter
