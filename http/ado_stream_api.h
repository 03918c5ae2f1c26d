#pragma once
// The charset step's stream, shaped after the Adodb.Stream calls it makes: Type, Mode, Open,
// Write, Position, Charset, ReadText, Close. Each call returns false where the COM call
// would fail.
#include <memory>
#include <string>
#include <string_view>

#include "text/seam.h"
#include "text/text_types.h"

namespace sellmeter {

inline constexpr int kAdTypeBinary = 1;
inline constexpr int kAdTypeText = 2;
inline constexpr int kAdModeReadWrite = 3;

class AdoStream {
 public:
  virtual ~AdoStream() = default;
  virtual bool SetType(int type) = 0;
  virtual bool SetMode(int mode) = 0;
  virtual bool Open() = 0;
  virtual bool Write(ByteArray bytes) = 0;  // a binary stream's bytes at Position
  virtual bool SetPosition(long long position) = 0;
  // A name the stream does not know is refused and the charset in force stays.
  virtual bool SetCharset(std::u16string_view charset) = 0;
  // The text from Position to the end, decoded with the charset in force.
  virtual bool ReadText(std::u16string& text) = 0;
  virtual bool Close() = 0;
};

class AdoStreamApi {
 public:
  virtual ~AdoStreamApi() = default;
  // A new "Adodb.Stream" object; null when it cannot be created.
  virtual std::unique_ptr<AdoStream> CreateStream() = 0;
};

AdoStreamApi& PlatformAdoStreamApi();  // defined by the platform layer
using ScopedAdoStreamApi = SeamOverride<AdoStreamApi>;

// The one in force.
inline AdoStreamApi& AdoStreams() { return ScopedAdoStreamApi::InForce(PlatformAdoStreamApi); }

}  // namespace sellmeter
