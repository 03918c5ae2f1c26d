// Linux layer of the charset stream: an in-memory stream with Adodb.Stream's rules, decoding
// through ICU converters. Charset names are those Adodb.Stream takes (case-insensitive),
// resolved through ICU's alias table, with the few names whose Windows meaning differs from
// ICU's mapped first.
#include <unicode/ucnv.h>

#include <algorithm>
#include <memory>
#include <string>

#include "http/ado_stream_api.h"

namespace sellmeter {
namespace {

struct ConverterDeleter {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterDeleter>;

// Windows names whose code page is wider than ICU's reading of the same name.
struct Alias {
  const char* name;
  const char* icuName;
};
constexpr Alias kAliases[] = {
    {"unicode", "UTF-16LE"},         {"utf-16", "UTF-16LE"},
    {"unicodefffe", "UTF-16BE"},     {"gb2312", "windows-936-2000"},
    {"gbk", "windows-936-2000"},     {"x-gbk", "windows-936-2000"},
    {"cp936", "windows-936-2000"},   {"windows-936", "windows-936-2000"},
    {"big5", "windows-950-2000"},    {"x-x-big5", "windows-950-2000"},
    {"euc-kr", "windows-949-2000"},  {"ks_c_5601-1987", "windows-949-2000"},
    {"shift_jis", "ibm-943_P15A-2003"}, {"x-sjis", "ibm-943_P15A-2003"},
    {"iso-8859-1", "windows-1252"},  {"latin1", "windows-1252"},
};

// The ICU converter name for an Adodb.Stream charset name; empty when the name is refused.
std::string ResolveCharset(std::u16string_view name) {
  if (name.empty() || name.size() > 64) return {};
  std::string ascii;
  for (char16_t c : name) {
    const bool allowed = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                         (c >= u'0' && c <= u'9') || c == u'-' || c == u'_' || c == u'.' ||
                         c == u':';
    if (!allowed) return {};  // also keeps ICU's ",option" syntax out
    ascii += static_cast<char>(c >= u'A' && c <= u'Z' ? c + 32 : c);
  }
  for (const Alias& alias : kAliases)
    if (ascii == alias.name) return alias.icuName;
  UErrorCode status = U_ZERO_ERROR;
  const char* canonical = ucnv_getCanonicalName(ascii.c_str(), "", &status);
  if (U_FAILURE(status) || canonical == nullptr) {
    status = U_ZERO_ERROR;
    canonical = ucnv_getAlias(ascii.c_str(), 0, &status);
    if (U_FAILURE(status) || canonical == nullptr) return {};
  }
  Converter probe(ucnv_open(canonical, &status));
  if (U_FAILURE(status) || !probe) return {};
  return canonical;
}

class IcuAdoStream final : public AdoStream {
 public:
  bool SetType(int type) override {
    if (type != kAdTypeBinary && type != kAdTypeText) return false;
    if (open_ && position_ != 0) return false;  // only at the start of an open stream
    type_ = type;
    return true;
  }
  bool SetMode(int mode) override {
    if (open_ || mode < 0 || mode > 16) return false;
    mode_ = mode;
    return true;
  }
  bool Open() override {
    if (open_) return false;
    open_ = true;
    data_.clear();
    position_ = 0;
    return true;
  }
  bool Write(ByteArray bytes) override {
    if (!open_ || type_ != kAdTypeBinary) return false;
    if (data_.empty()) {  // the usual case: the whole body into a fresh stream
      data_ = std::move(bytes);
      position_ = data_.size();
      return true;
    }
    if (data_.size() < position_ + bytes.size()) data_.resize(position_ + bytes.size());
    std::copy(bytes.begin(), bytes.end(), data_.begin() + static_cast<long>(position_));
    position_ += bytes.size();
    return true;
  }
  bool SetPosition(long long position) override {
    if (!open_ || position < 0 || static_cast<unsigned long long>(position) > data_.size())
      return false;
    position_ = static_cast<std::size_t>(position);
    return true;
  }
  bool SetCharset(std::u16string_view charset) override {
    if (open_ && position_ != 0) return false;
    std::string resolved = ResolveCharset(charset);
    if (resolved.empty()) return false;
    charset_ = std::move(resolved);
    return true;
  }
  bool ReadText(std::u16string& text) override {
    text.clear();
    if (!open_ || type_ != kAdTypeText) return false;
    UErrorCode status = U_ZERO_ERROR;
    Converter converter(ucnv_open(charset_.c_str(), &status));
    if (U_FAILURE(status)) return false;
    const char* source = reinterpret_cast<const char*>(data_.data()) + position_;
    const char* end = reinterpret_cast<const char*>(data_.data()) + data_.size();
    const bool atStart = position_ == 0;
    // Hardly any charset yields more units than bytes; a converter that does gets more room.
    std::size_t written = 0;
    text.resize(static_cast<std::size_t>(end - source) + 16);
    for (;;) {
      UChar* start = reinterpret_cast<UChar*>(text.data()) + written;
      UChar* target = start;
      UChar* targetEnd = reinterpret_cast<UChar*>(text.data()) + text.size();
      status = U_ZERO_ERROR;
      ucnv_toUnicode(converter.get(), &target, targetEnd, &source, end, nullptr, true, &status);
      written += static_cast<std::size_t>(target - start);
      if (status != U_BUFFER_OVERFLOW_ERROR) break;
      text.resize(text.size() * 2);
    }
    if (U_FAILURE(status)) {
      text.clear();
      return false;
    }
    text.resize(written);
    position_ = data_.size();
    // A byte-order mark at the start of the stream is not part of its text.
    if (atStart && !text.empty() && text.front() == u'\uFEFF') text.erase(0, 1);
    return true;
  }
  bool Close() override {
    if (!open_) return false;
    open_ = false;
    data_.clear();
    position_ = 0;
    return true;
  }

 private:
  int type_ = kAdTypeText;
  int mode_ = 0;
  bool open_ = false;
  ByteArray data_;
  std::size_t position_ = 0;
  std::string charset_ = "UTF-16LE";  // Adodb.Stream's default, "Unicode"
};

class IcuAdoStreamApi final : public AdoStreamApi {
 public:
  std::unique_ptr<AdoStream> CreateStream() override { return std::make_unique<IcuAdoStream>(); }
};

}  // namespace

AdoStreamApi& PlatformAdoStreamApi() {
  static IcuAdoStreamApi api;
  return api;
}

}  // namespace sellmeter
