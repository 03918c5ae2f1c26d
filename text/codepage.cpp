#include "text/codepage.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

namespace sellmeter {
namespace {

CodePageApi* overridden = nullptr;

// Wide bytes are little-endian units; on a little-endian host that is the in-memory layout.
ByteArray UnitsToBytes(const char16_t* units, std::size_t count) {
  if constexpr (std::endian::native == std::endian::little) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(units);
    return ByteArray(bytes, bytes + count * 2);
  } else {
    ByteArray bytes(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
      bytes[2 * i] = static_cast<std::uint8_t>(units[i] & 0xFF);
      bytes[2 * i + 1] = static_cast<std::uint8_t>(units[i] >> 8);
    }
    return bytes;
  }
}

// An odd last byte is not part of any unit and is ignored. Room for one more unit is kept
// for a terminator.
std::u16string BytesToUnits(const ByteArray& bytes) {
  std::u16string units;
  units.reserve(bytes.size() / 2 + 1);
  units.resize(bytes.size() / 2);
  if (units.empty()) return units;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(units.data(), bytes.data(), units.size() * 2);
  } else {
    for (std::size_t i = 0; i < units.size(); ++i)
      units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return units;
}

int ClampLength(std::size_t size) {
  return size > static_cast<std::size_t>(INT_MAX) ? -2 : static_cast<int>(size);
}

}  // namespace

CodePageApi& CodePages() { return overridden ? *overridden : PlatformCodePageApi(); }

ScopedCodePageApi::ScopedCodePageApi(CodePageApi& api) : previous_(overridden) { overridden = &api; }
ScopedCodePageApi::~ScopedCodePageApi() { overridden = previous_; }

ByteArray TextToWide(std::string_view text, unsigned codePage) {
  CodePageApi& api = CodePages();
  const std::string source(text);  // zero-terminated: the calls pass -1
  // The size comes from the ANSI code page whatever codePage is; units the conversion
  // does not write stay zero.
  const int units = api.MultiByteToWideChar(kCpAcp, 0, source.c_str(), -1, nullptr, 0);
  if (units <= 0) return {};
  std::u16string wide(static_cast<std::size_t>(units), u'\0');
  api.MultiByteToWideChar(codePage, 0, source.c_str(), -1, wide.data(), units);
  return UnitsToBytes(wide.data(), wide.size());
}

Text WideToText(const ByteArray& wide, unsigned codePage) {
  CodePageApi& api = CodePages();
  // The calls read up to the first zero unit; one is appended so that data without one
  // still ends inside the buffer.
  std::u16string units = BytesToUnits(wide);
  units.push_back(u'\0');
  const int size = api.WideCharToMultiByte(kCpAcp, 0, units.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  if (size > INT_MAX / 2) return {};
  Text out(static_cast<std::size_t>(size) * 2, ' ');
  api.WideCharToMultiByte(codePage, 0, units.c_str(), -1, out.data(), size * 2, nullptr, nullptr);
  const std::size_t end = out.find('\0');
  if (end != Text::npos) out.resize(end);
  return out;
}

Text GbkToUtf8(std::string_view text) { return WideToText(TextToWide(text, kCpGbk), kCpUtf8); }

ByteArray GbkToWide(std::string_view text, bool noTerminator) {
  if (text.empty()) return {};
  CodePageApi& api = CodePages();
  const std::string source(text);
  const int units = api.MultiByteToWideChar(kCpGbk, 0, source.c_str(), -1, nullptr, 0);
  if (units <= 0) return {};
  std::u16string wide(static_cast<std::size_t>(units), u'\0');
  api.MultiByteToWideChar(kCpGbk, 0, source.c_str(), -1, wide.data(), units);
  if (noTerminator) wide.pop_back();
  return UnitsToBytes(wide.data(), wide.size());
}

Text WideToGbk(const ByteArray& wide) {
  CodePageApi& api = CodePages();
  const std::u16string units = BytesToUnits(wide);
  const int count = ClampLength(units.size());
  const int size = api.WideCharToMultiByte(kCpGbk, kWcCompositeCheck, units.data(), count, nullptr, 0,
                                           nullptr, nullptr);
  if (size <= 0) return {};
  Text out(static_cast<std::size_t>(size), '\0');
  api.WideCharToMultiByte(kCpGbk, kWcCompositeCheck, units.data(), count, out.data(), size, nullptr,
                          nullptr);
  const std::size_t end = out.find('\0');
  if (end != Text::npos) out.resize(end);
  return out;
}

std::u16string TextToU16(std::string_view text, unsigned codePage) {
  const int length = ClampLength(text.size());
  if (length <= 0) return {};
  // No code page yields more units than it has bytes, so one call fills a buffer of that size.
  std::u16string wide(text.size(), u'\0');
  const int units = CodePages().MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(), length);
  wide.resize(units > 0 ? std::min<std::size_t>(static_cast<std::size_t>(units), wide.size()) : 0);
  return wide;
}

Text U16ToText(std::u16string_view wide, unsigned codePage) {
  const int length = ClampLength(wide.size());
  if (length <= 0) return {};
  // At most two bytes a unit in the double-byte code pages, three in UTF-8.
  const std::size_t perUnit = codePage == kCpUtf8 ? 3 : 2;
  if (wide.size() > static_cast<std::size_t>(INT_MAX) / perUnit) return {};
  Text out(wide.size() * perUnit, '\0');
  const int size = CodePages().WideCharToMultiByte(codePage, 0, wide.data(), length, out.data(),
                                                   static_cast<int>(out.size()), nullptr, nullptr);
  out.resize(size > 0 ? std::min<std::size_t>(static_cast<std::size_t>(size), out.size()) : 0);
  return out;
}

}  // namespace sellmeter
