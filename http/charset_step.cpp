#include "http/charset_step.h"

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

// The decoded page as GBK text; like any text it ends at a zero unit.
Text Gbk(std::u16string_view units) {
  return U16ToText(units.substr(0, units.find(u'\0')), kCpGbk);
}

}  // namespace

void DecodeDeclaredCharset(RegexObject& regex, std::string_view body, Text& result) {
  Com().CoInitialize(nullptr);
  const std::string_view window = std::string_view(result).substr(0, kSearchWindow);
  if (regex.Search(kCharsetPattern, window)) {
    const Text charset = regex.SubMatchText(1, 1);
    if (!charset.empty() && charset != "gbk" && charset != "gb2312") {
      if (std::unique_ptr<AdoStream> stream = AdoStreams().CreateStream()) {
        stream->SetType(kAdTypeBinary);
        stream->SetMode(kAdModeReadWrite);
        stream->Open();
        stream->Write(ByteArray(body.begin(), body.end()));
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
