#pragma once
// The Linux RegExp engine on PCRE2 (16-bit code units, UTF, JIT), configured to the
// VBScript.RegExp dialect. Exposed for tests and benchmarks that reach the same configuration.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sellmeter {

// Per-match-call limits: a pathological pattern and subject give up instead of running on.
inline constexpr std::uint32_t kRegExpMatchLimit = 10'000'000;
inline constexpr std::uint32_t kRegExpDepthLimit = 10'000;
inline constexpr std::uint32_t kRegExpHeapLimitKiB = 64 * 1024;

// The pattern rewritten into PCRE2 syntax: the escapes PCRE2 reads differently from the dialect
// (\v, \a, \e, \h, \R, \Q ..., unmatched back-references, octal), and "[" inside a class.
// Empty for PCRE2-only syntax the dialect rejects ("(*...", "(?" other than "(?:", "(?=", "(?!").
std::optional<std::u16string> TranslateRegExpPattern(std::u16string_view pattern);

// The PCRE2 compile options of the dialect.
std::uint32_t RegExpCompileOptions(bool ignoreCase, bool multiline);

}  // namespace sellmeter
