#include "text/codepage.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

namespace sellmeter {
namespace {

constexpr bool kLittleEndian = std::endian::native == std::endian::little;

// Wide bytes being prepared. On a little-endian host a UTF-16LE unit is the in-memory
// char16_t, so the conversion writes straight into the bytes (allocator storage is aligned
// for any unit type); elsewhere it writes units that are then laid out byte by byte.
class WideBytes {
 public:
  explicit WideBytes(std::size_t units) : bytes_(units * 2, 0) {
    if constexpr (!kLittleEndian) units_.assign(units, u'\0');
  }
  char16_t* Units() {
    if constexpr (kLittleEndian) return reinterpret_cast<char16_t*>(bytes_.data());
    return units_.data();
  }
  ByteArray Take(std::size_t units) {
    if constexpr (!kLittleEndian) {
      for (std::size_t i = 0; i < units; ++i) {
        bytes_[2 * i] = static_cast<std::uint8_t>(units_[i] & 0xFF);
        bytes_[2 * i + 1] = static_cast<std::uint8_t>(units_[i] >> 8);
      }
    }
    bytes_.resize(units * 2);
    return std::move(bytes_);
  }

 private:
  ByteArray bytes_;
  std::u16string units_;
};

// The units of wide bytes; an odd last byte is not part of any unit and is ignored. Read in
// place on a little-endian host, otherwise from copy.
std::u16string_view UnitsOf(const ByteArray& bytes, std::u16string& copy) {
  const std::size_t count = bytes.size() / 2;
  if (count == 0) return {};
  if constexpr (kLittleEndian) return {reinterpret_cast<const char16_t*>(bytes.data()), count};
  copy.resize(count);
  for (std::size_t i = 0; i < count; ++i) copy[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return copy;
}

int ClampLength(std::size_t size) {
  return size > static_cast<std::size_t>(INT_MAX) ? -2 : static_cast<int>(size);
}

}  // namespace

ByteArray TextToWide(std::string_view text, unsigned codePage) {
  CodePageApi& api = CodePages();
  const std::string source(text);  // zero-terminated: the calls pass -1
  // The size comes from the ANSI code page whatever codePage is; units the conversion
  // does not write stay zero.
  const int units = api.MultiByteToWideChar(kCpAcp, 0, source.c_str(), -1, nullptr, 0);
  if (units <= 0) return {};
  WideBytes wide(static_cast<std::size_t>(units));
  if (api.MultiByteToWideChar(codePage, 0, source.c_str(), -1, wide.Units(), units) == 0) {
    // codePage needs more units than the ANSI code page counted (a 936 text read as 1252):
    // rather than zeros where the text should be, size for codePage itself and convert again.
    const int needed = api.MultiByteToWideChar(codePage, 0, source.c_str(), -1, nullptr, 0);
    if (needed > units) {
      WideBytes larger(static_cast<std::size_t>(needed));
      api.MultiByteToWideChar(codePage, 0, source.c_str(), -1, larger.Units(), needed);
      return larger.Take(static_cast<std::size_t>(needed));
    }
  }
  return wide.Take(static_cast<std::size_t>(units));
}

Text WideToText(const ByteArray& wide, unsigned codePage) {
  CodePageApi& api = CodePages();
  // The calls read up to the first zero unit; data without one are copied with one appended,
  // so that the read ends inside a buffer.
  std::u16string copy;
  std::u16string_view units = UnitsOf(wide, copy);
  if (units.find(u'\0') == std::u16string_view::npos) {
    if (units.data() != copy.data()) copy.assign(units);
    copy.push_back(u'\0');
    units = copy;
  }
  const int size = api.WideCharToMultiByte(kCpAcp, 0, units.data(), -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  if (size > INT_MAX / 2) return {};
  Text out(static_cast<std::size_t>(size) * 2, ' ');
  if (api.WideCharToMultiByte(codePage, 0, units.data(), -1, out.data(), size * 2, nullptr, nullptr) == 0) {
    // Twice the ANSI size can still be too little (UTF-8 of characters the ANSI code page
    // holds in one byte, such as the euro sign of 936): rather than blanks where the text
    // should be, size for codePage itself and convert again.
    const int needed = api.WideCharToMultiByte(codePage, 0, units.data(), -1, nullptr, 0, nullptr, nullptr);
    if (needed > size * 2) {
      out.assign(static_cast<std::size_t>(needed), ' ');
      api.WideCharToMultiByte(codePage, 0, units.data(), -1, out.data(), needed, nullptr, nullptr);
    }
  }
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
  WideBytes wide(static_cast<std::size_t>(units));
  api.MultiByteToWideChar(kCpGbk, 0, source.c_str(), -1, wide.Units(), units);
  return wide.Take(static_cast<std::size_t>(noTerminator ? units - 1 : units));
}

Text WideToGbk(const ByteArray& wide) {
  CodePageApi& api = CodePages();
  std::u16string copy;
  std::u16string_view units = UnitsOf(wide, copy);
  const int count = ClampLength(units.size());
  static constexpr char16_t kNoUnits[1] = {u'\0'};
  if (units.empty()) units = std::u16string_view(kNoUnits, 0);  // a valid pointer for the calls
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
