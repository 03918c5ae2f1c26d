#include "http/charset_step.h"

#include <cstring>
#include <string_view>

#include "http/ado_stream_api.h"
#include "regex/com_api.h"
#include "text/codepage.h"
#include "text/message_pump.h"

namespace sellmeter {
namespace {

constexpr std::string_view kCharsetPattern = "<meta.+?charset=[^\\w]?([-\\w]+)";
constexpr std::size_t kSearchWindow = 1024;

std::u16string Wide(std::string_view gbk) {
  ByteArray bytes = GbkToWide(gbk, true);
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return units;
}

Text Gbk(const std::u16string& units) {
  ByteArray bytes(units.size() * 2);
  for (std::size_t i = 0; i < units.size(); ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>(units[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(units[i] >> 8);
  }
  return WideToGbk(bytes);
}

}  // namespace

void DecodeDeclaredCharset(RegexObject& regex, const ByteArray& body, Text& result) {
  Com().CoInitialize(nullptr);
  const std::string_view window = std::string_view(result).substr(0, kSearchWindow);
  if (regex.Search(kCharsetPattern, window)) {
    const Text charset = regex.SubMatchText(1, 1);
    if (!charset.empty() && charset != "gbk" && charset != "gb2312") {
      if (std::unique_ptr<AdoStream> stream = AdoStreams().CreateStream()) {
        stream->SetType(kAdTypeBinary);
        stream->SetMode(kAdModeReadWrite);
        stream->Open();
        stream->Write(body);
        stream->SetPosition(0);
        stream->SetType(kAdTypeText);
        // A refused name would leave the stream decoding with its default charset (UTF-16),
        // which turns the page into garbage: the raw text stays instead.
        if (stream->SetCharset(Wide(charset))) {
          std::u16string text;
          stream->ReadText(text);
          result = Gbk(text);
        }
        stream->Close();
      }
    }
    Messages().DispatchPending();
  }
  Com().CoUninitialize();
}

}  // namespace sellmeter
