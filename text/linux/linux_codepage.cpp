// Code pages 0, 936, 1252 and 65001 with the results of the Windows conversion functions.
//
// The 936 and 1252 mappings are Windows' own tables as ICU carries them ("windows-936-2000",
// "windows-1252"), read once into flat tables so that a conversion never calls ICU per
// character; ASCII runs are widened and narrowed sixteen bytes at a time. UTF-8 goes through
// ICU's string functions with U+FFFD for ill-formed input, as Windows does.
#include "text/linux/linux_codepage.h"

#include <unicode/ucnv.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "text/codepage_api.h"

namespace sellmeter {
namespace {

constexpr std::uint32_t kMbPrecomposed = 0x1;
constexpr std::uint32_t kMbErrInvalidChars = 0x8;
constexpr std::uint32_t kWcSepChars = 0x20;
constexpr char16_t kQuestion = u'?';

std::atomic<unsigned> ansiCodePage{kCpGbk};

// ---------------------------------------------------------------------------------------------
// Tables

struct GbkTables {
  // lead 0x81-0xFE by trail 0x40-0xFE; 0 = no character there.
  char16_t decode[126][191] = {};
  // unit -> code (< 0x100 a single byte, otherwise lead << 8 | trail); 0 = none. Holds ICU's
  // fallbacks too, which are Windows' best-fit mappings (U+00A2 -> A1E9).
  std::uint16_t encode[65536] = {};
};

struct LatinTables {
  char16_t decode[256] = {};
  std::uint16_t encode[65536] = {};  // 0x100 | byte; 0 = none
};

struct CompositionTables {
  const UNormalizer2* nfc = nullptr;
  // Units that can combine with the character before them (composition candidates).
  std::uint8_t combinesBack[65536 / 8] = {};
  bool CombinesBack(char16_t unit) const { return (combinesBack[unit >> 3] >> (unit & 7)) & 1; }
};

UConverter* OpenConverter(const char* name) {
  UErrorCode error = U_ZERO_ERROR;
  UConverter* converter = ucnv_open(name, &error);
  if (U_FAILURE(error)) return nullptr;
  ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &error);
  ucnv_setFromUCallBack(converter, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &error);
  ucnv_setFallback(converter, true);
  return converter;
}

// One character through the converter; the unit or 0 when the bytes map to nothing.
char16_t DecodeOne(UConverter* converter, const char* bytes, int length) {
  UErrorCode error = U_ZERO_ERROR;
  ucnv_resetToUnicode(converter);
  UChar out[4];
  UChar* target = out;
  const char* source = bytes;
  ucnv_toUnicode(converter, &target, out + 4, &source, bytes + length, nullptr, true, &error);
  if (U_FAILURE(error) || target - out != 1) return 0;
  return out[0];
}

std::uint16_t EncodeOne(UConverter* converter, char16_t unit) {
  UErrorCode error = U_ZERO_ERROR;
  ucnv_resetFromUnicode(converter);
  char out[8];
  char* target = out;
  const UChar source[1] = {unit};
  const UChar* from = source;
  ucnv_fromUnicode(converter, &target, out + 8, &from, source + 1, nullptr, true, &error);
  if (U_FAILURE(error)) return 0;
  if (target - out == 1) return static_cast<unsigned char>(out[0]);
  if (target - out == 2)
    return static_cast<std::uint16_t>(static_cast<unsigned char>(out[0]) << 8 | static_cast<unsigned char>(out[1]));
  return 0;
}

// Each table is read from ICU once, at its first use, and is shared by all threads.
std::unique_ptr<GbkTables> BuildGbkTables() {
  auto tables = std::make_unique<GbkTables>();
  UConverter* gbk = OpenConverter("windows-936-2000");
  if (!gbk) return tables;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      tables->decode[lead - 0x81][trail - 0x40] = DecodeOne(gbk, pair, 2);
    }
  }
  for (unsigned unit = 0x80; unit <= 0xFFFF; ++unit) {
    if (unit >= 0xD800 && unit <= 0xDFFF) continue;
    tables->encode[unit] = EncodeOne(gbk, static_cast<char16_t>(unit));
  }
  ucnv_close(gbk);
  return tables;
}

std::unique_ptr<LatinTables> BuildLatinTables() {
  auto tables = std::make_unique<LatinTables>();
  UConverter* latin = OpenConverter("windows-1252");
  if (!latin) return tables;
  for (int byte = 1; byte < 256; ++byte) {
    const char one = static_cast<char>(byte);
    tables->decode[byte] = DecodeOne(latin, &one, 1);
  }
  tables->encode[0] = 0x100;
  for (unsigned unit = 1; unit <= 0xFFFF; ++unit) {
    if (unit >= 0xD800 && unit <= 0xDFFF) continue;
    const std::uint16_t code = EncodeOne(latin, static_cast<char16_t>(unit));
    if (code != 0 && code < 0x100) tables->encode[unit] = static_cast<std::uint16_t>(0x100 | code);
  }
  ucnv_close(latin);
  return tables;
}

std::unique_ptr<CompositionTables> BuildCompositionTables() {
  auto tables = std::make_unique<CompositionTables>();
  UErrorCode error = U_ZERO_ERROR;
  tables->nfc = unorm2_getNFCInstance(&error);
  if (U_FAILURE(error)) {
    tables->nfc = nullptr;
    return tables;
  }
  for (unsigned unit = 0x300; unit <= 0xFFFF; ++unit) {
    if (unit >= 0xD800 && unit <= 0xDFFF) continue;
    if (!unorm2_hasBoundaryBefore(tables->nfc, static_cast<UChar32>(unit)))
      tables->combinesBack[unit >> 3] |= static_cast<std::uint8_t>(1u << (unit & 7));
  }
  return tables;
}

const GbkTables& Gbk() {
  static const std::unique_ptr<GbkTables> tables = BuildGbkTables();
  return *tables;
}

const LatinTables& Latin() {
  static const std::unique_ptr<LatinTables> tables = BuildLatinTables();
  return *tables;
}

const CompositionTables& Composition() {
  static const std::unique_ptr<CompositionTables> tables = BuildCompositionTables();
  return *tables;
}

// ---------------------------------------------------------------------------------------------
// ASCII runs

// Widens the leading ASCII bytes of [src, src + length) into out (when out is given); returns
// how many were taken.
std::size_t WidenAscii(const unsigned char* src, std::size_t length, char16_t* out) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  while (i + 16 <= length) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    if (_mm_movemask_epi8(bytes) != 0) break;
    if (out) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(bytes, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(bytes, zero));
    }
    i += 16;
  }
#else
  while (i + 8 <= length) {
    std::uint64_t word;
    std::memcpy(&word, src + i, 8);
    if (word & 0x8080808080808080ull) break;
    if (out)
      for (int k = 0; k < 8; ++k) out[i + k] = src[i + k];
    i += 8;
  }
#endif
  while (i < length && src[i] < 0x80) {
    if (out) out[i] = src[i];
    ++i;
  }
  return i;
}

// Narrows the leading units below 0x80 (zero included) into out when given; returns the count.
std::size_t NarrowAscii(const char16_t* src, std::size_t length, char* out) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  while (i + 16 <= length) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 8));
    const __m128i over = _mm_and_si128(_mm_or_si128(a, b), high);
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(over, zero)) != 0xFFFF) break;
    if (out) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, b));
    i += 16;
  }
#endif
  while (i < length && src[i] < 0x80) {
    if (out) out[i] = static_cast<char>(src[i]);
    ++i;
  }
  return i;
}

// ---------------------------------------------------------------------------------------------
// Decoding. Each decoder writes to out when it is given and only counts otherwise; it returns
// the unit count, or -1 when invalid input is to fail the call (MB_ERR_INVALID_CHARS).

long Decode936(const unsigned char* src, std::size_t length, char16_t* out, bool failInvalid) {
  const GbkTables& tables = Gbk();
  std::size_t i = 0;
  std::size_t n = 0;
  while (i < length) {
    const unsigned char lead = src[i];
    if (lead < 0x80) {
      const std::size_t ascii = WidenAscii(src + i, length - i, out ? out + n : nullptr);
      i += ascii;
      n += ascii;
      continue;
    }
    char16_t unit;
    if (lead == 0x80) {
      unit = u'\u20AC';
      i += 1;
    } else if (lead == 0xFF) {
      unit = u'\uF8F5';
      i += 1;
    } else if (i + 1 >= length || src[i + 1] == 0) {
      // A lone lead byte; a zero after it is converted on its own.
      unit = 0;
      i += 1;
    } else {
      const unsigned char trail = src[i + 1];
      unit = trail >= 0x40 && trail != 0x7F && trail != 0xFF ? tables.decode[lead - 0x81][trail - 0x40] : 0;
      i += 2;  // a byte that cannot trail goes with its lead into one "?"
    }
    if (unit == 0) {
      if (failInvalid) return -1;
      unit = kQuestion;
    }
    if (out) out[n] = unit;
    ++n;
  }
  return static_cast<long>(n);
}

long Decode1252(const unsigned char* src, std::size_t length, char16_t* out) {
  const LatinTables& tables = Latin();
  std::size_t i = 0;
  while (i < length) {
    i += WidenAscii(src + i, length - i, out ? out + i : nullptr);
    if (i >= length) break;
    if (out) out[i] = tables.decode[src[i]];
    ++i;
  }
  return static_cast<long>(length);
}

long DecodeUtf8(const unsigned char* src, std::size_t length, char16_t* out, std::size_t outSize,
                bool failInvalid) {
  const std::size_t ascii = WidenAscii(src, length, out);
  if (ascii == length) return static_cast<long>(length);
  UErrorCode error = U_ZERO_ERROR;
  int32_t written = 0;
  int32_t substitutions = 0;
  const std::size_t rest = length - ascii;
  if (rest > static_cast<std::size_t>(INT32_MAX)) return -1;
  u_strFromUTF8WithSub(out ? reinterpret_cast<UChar*>(out + ascii) : nullptr,
                       out ? static_cast<int32_t>(outSize - ascii) : 0, &written,
                       reinterpret_cast<const char*>(src + ascii), static_cast<int32_t>(rest), 0xFFFD,
                       &substitutions, &error);
  if (error == U_BUFFER_OVERFLOW_ERROR && !out) error = U_ZERO_ERROR;
  if (U_FAILURE(error) && error != U_STRING_NOT_TERMINATED_WARNING) return -1;
  if (failInvalid && substitutions > 0) return -1;
  return static_cast<long>(ascii + static_cast<std::size_t>(written));
}

// ---------------------------------------------------------------------------------------------
// Encoding

struct DefaultChar {
  char bytes[2] = {'?', 0};
  int length = 1;
};

// Windows takes the first character of the caller's default: one byte, or two when it opens
// a double-byte character of the code page.
DefaultChar MakeDefaultChar(unsigned codePage, const char* given) {
  DefaultChar result;
  if (!given || given[0] == 0) return result;
  result.bytes[0] = given[0];
  const auto lead = static_cast<unsigned char>(given[0]);
  if (codePage == kCpGbk && lead >= 0x81 && lead <= 0xFE && given[1] != 0) {
    result.bytes[1] = given[1];
    result.length = 2;
  }
  return result;
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// 936 and 1252. A surrogate pair, which neither code page holds, is one default character.
long EncodeTable(unsigned codePage, const char16_t* src, std::size_t length, char* out,
                 const DefaultChar& fallback, bool* usedDefault) {
  const bool gbk = codePage == kCpGbk;
  const GbkTables* gbkTables = gbk ? &Gbk() : nullptr;
  const LatinTables* latinTables = gbk ? nullptr : &Latin();
  std::size_t i = 0;
  std::size_t n = 0;
  while (i < length) {
    const char16_t unit = src[i];
    if (unit < 0x80) {
      const std::size_t ascii = NarrowAscii(src + i, length - i, out ? out + n : nullptr);
      i += ascii;
      n += ascii;
      continue;
    }
    std::uint16_t code = 0;
    int width = 0;
    if (gbkTables) {
      code = gbkTables->encode[unit];
      width = code == 0 ? 0 : (code < 0x100 ? 1 : 2);
    } else if (latinTables->encode[unit] != 0) {
      code = latinTables->encode[unit] & 0xFF;
      width = 1;
    }
    i += IsHighSurrogate(unit) && i + 1 < length && IsLowSurrogate(src[i + 1]) ? 2 : 1;
    if (width == 0) {
      if (usedDefault) *usedDefault = true;
      if (out) std::memcpy(out + n, fallback.bytes, static_cast<std::size_t>(fallback.length));
      n += static_cast<std::size_t>(fallback.length);
    } else if (width == 1) {
      if (out) out[n] = static_cast<char>(code);
      n += 1;
    } else {
      if (out) {
        out[n] = static_cast<char>(code >> 8);
        out[n + 1] = static_cast<char>(code & 0xFF);
      }
      n += 2;
    }
  }
  return static_cast<long>(n);
}

long EncodeUtf8(const char16_t* src, std::size_t length, char* out, std::size_t outSize) {
  const std::size_t ascii = NarrowAscii(src, length, out);
  if (ascii == length) return static_cast<long>(length);
  const std::size_t rest = length - ascii;
  if (rest > static_cast<std::size_t>(INT32_MAX)) return -1;
  UErrorCode error = U_ZERO_ERROR;
  int32_t written = 0;
  int32_t substitutions = 0;
  // Lone surrogates become U+FFFD (EF BF BD), as on Windows.
  u_strToUTF8WithSub(out ? out + ascii : nullptr, out ? static_cast<int32_t>(outSize - ascii) : 0, &written,
                     reinterpret_cast<const UChar*>(src + ascii), static_cast<int32_t>(rest), 0xFFFD,
                     &substitutions, &error);
  if (error == U_BUFFER_OVERFLOW_ERROR && !out) error = U_ZERO_ERROR;
  if (U_FAILURE(error) && error != U_STRING_NOT_TERMINATED_WARNING) return -1;
  return static_cast<long>(ascii + static_cast<std::size_t>(written));
}

bool HasMapping(unsigned codePage, char16_t unit) {
  return codePage == kCpGbk ? Gbk().encode[unit] != 0 : Latin().encode[unit] != 0;
}

// WC_COMPOSITECHECK: a base character followed by a mark it composes with becomes the
// precomposed character, when the code page holds that; otherwise both stay (WC_SEPCHARS).
// Returns false when nothing composes, so the caller can convert the source as it is.
bool ComposePairs(unsigned codePage, const char16_t* src, std::size_t length, std::u16string& composed) {
  const CompositionTables& tables = Composition();
  if (!tables.nfc) return false;
  auto candidate = [&](char16_t unit) { return tables.CombinesBack(unit); };
  auto composesAt = [&](std::size_t i) {
    return tables.CombinesBack(src[i]) && unorm2_composePair(tables.nfc, src[i - 1], src[i]) >= 0;
  };
  std::size_t first = 1;
  while (first < length) {
#if defined(__SSE2__)
    // Nothing below U+0300 combines with what precedes it: such blocks are skipped whole.
    if (first + 8 <= length) {
      const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + first));
      const __m128i low = _mm_cmpeq_epi16(_mm_subs_epu16(units, _mm_set1_epi16(0x02FF)), _mm_setzero_si128());
      if (_mm_movemask_epi8(low) == 0xFFFF) {
        first += 8;
        continue;
      }
      const std::size_t end = first + 8;
      while (first < end && !composesAt(first)) ++first;
      if (first < end) break;
      continue;
    }
#endif
    if (composesAt(first)) break;
    ++first;
  }
  if (first >= length) return false;
  composed.assign(src, first - 1);
  char16_t base = src[first - 1];
  for (std::size_t i = first; i < length; ++i) {
    const char16_t unit = src[i];
    if (candidate(unit) && !IsHighSurrogate(base) && !IsLowSurrogate(base)) {
      const UChar32 pair = unorm2_composePair(tables.nfc, base, unit);
      if (pair >= 0 && pair <= 0xFFFF && HasMapping(codePage, static_cast<char16_t>(pair))) {
        base = static_cast<char16_t>(pair);
        continue;
      }
    }
    composed.push_back(base);
    base = unit;
  }
  composed.push_back(base);
  return true;
}

// ---------------------------------------------------------------------------------------------

unsigned Resolve(unsigned codePage) {
  if (codePage == kCpAcp) codePage = ansiCodePage.load(std::memory_order_relaxed);
  switch (codePage) {
    case kCpGbk:
    case kCp1252:
    case kCpUtf8:
      return codePage;
    default:
      return 0;
  }
}

class LinuxCodePageApi final : public CodePageApi {
 public:
  int MultiByteToWideChar(unsigned codePage, std::uint32_t flags, const char* source, int sourceLength,
                          char16_t* wide, int wideSize) override {
    const unsigned cp = Resolve(codePage);
    if (cp == 0) return 0;
    const std::uint32_t allowed = cp == kCpUtf8 ? kMbErrInvalidChars : kMbPrecomposed | kMbErrInvalidChars;
    if ((flags & ~allowed) != 0) return 0;
    if (!source || sourceLength == 0 || sourceLength < -1 || wideSize < 0 || (wideSize > 0 && !wide)) return 0;
    const std::size_t length =
        sourceLength == -1 ? std::strlen(source) + 1 : static_cast<std::size_t>(sourceLength);
    const bool failInvalid = (flags & kMbErrInvalidChars) != 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(source);
    auto decode = [&](char16_t* out, std::size_t outSize) -> long {
      switch (cp) {
        case kCpGbk: return Decode936(bytes, length, out, failInvalid);
        case kCp1252: return Decode1252(bytes, length, out);
        default: return DecodeUtf8(bytes, length, out, outSize, failInvalid);
      }
    };
    if (wideSize == 0) return Fit(decode(nullptr, 0));
    // No code page gives more units than bytes: a buffer that large is filled directly. A
    // smaller one is counted first and only written when the whole result fits, since the
    // callers rely on a failed call leaving their buffer as it was.
    if (static_cast<std::size_t>(wideSize) < length) {
      const long units = decode(nullptr, 0);
      if (units < 0 || units > wideSize) return 0;
    }
    return Fit(decode(wide, static_cast<std::size_t>(wideSize)));
  }

  int WideCharToMultiByte(unsigned codePage, std::uint32_t flags, const char16_t* source, int sourceLength,
                          char* out, int outSize, const char* defaultChar, bool* usedDefaultChar) override {
    const unsigned cp = Resolve(codePage);
    if (cp == 0) return 0;
    if (cp == kCpUtf8) {
      // Windows takes neither flags nor a default character for UTF-8.
      if (flags != 0 || defaultChar || usedDefaultChar) return 0;
    } else if ((flags & ~(kWcCompositeCheck | kWcSepChars)) != 0) {
      return 0;
    }
    if (!source || sourceLength == 0 || sourceLength < -1 || outSize < 0 || (outSize > 0 && !out)) return 0;
    std::size_t length = static_cast<std::size_t>(sourceLength);
    if (sourceLength == -1) {
      length = 0;
      while (source[length] != 0) ++length;
      ++length;
    }
    std::u16string composed;
    if ((flags & kWcCompositeCheck) != 0 && ComposePairs(cp, source, length, composed)) {
      source = composed.data();
      length = composed.size();
    }
    const DefaultChar fallback = MakeDefaultChar(cp, defaultChar);
    bool used = false;
    auto encode = [&](char* target, std::size_t targetSize) -> long {
      if (cp == kCpUtf8) return EncodeUtf8(source, length, target, targetSize);
      return EncodeTable(cp, source, length, target, fallback, &used);
    };
    // At most three bytes a unit in UTF-8 and two elsewhere; a smaller buffer is counted first,
    // as above.
    const std::size_t perUnit = cp == kCpUtf8 ? 3 : 2;
    long result = 0;
    if (outSize == 0 || static_cast<std::size_t>(outSize) / perUnit < length) {
      result = encode(nullptr, 0);
      if (outSize > 0 && result >= 0 && result > outSize) result = -1;
    }
    if (outSize > 0 && result >= 0) result = encode(out, static_cast<std::size_t>(outSize));
    if (result >= 0 && usedDefaultChar) *usedDefaultChar = used;
    return Fit(result);
  }

 private:
  static int Fit(long count) { return count < 0 || count > INT_MAX ? 0 : static_cast<int>(count); }
};

}  // namespace

void SetAnsiCodePage(unsigned codePage) {
  if (codePage == kCpGbk || codePage == kCp1252) ansiCodePage.store(codePage, std::memory_order_relaxed);
}

unsigned AnsiCodePage() { return ansiCodePage.load(std::memory_order_relaxed); }

CodePageApi& PlatformCodePageApi() {
  static LinuxCodePageApi api;
  return api;
}

}  // namespace sellmeter
