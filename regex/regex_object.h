#pragma once
// One pattern search over a GBK subject with its match collection; 1-based match and group
// numbers. The engine behind it is a VBScript.RegExp-shaped object (regex/regexp_engine.h).
#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>

#include "text/text_types.h"

namespace sellmeter {

class RegExpObject;       // engine object of one search
class RegExpMatchList;    // its match collection

class RegexObject {
 public:
  RegexObject();   // CoInitialize(nullptr), result ignored
  ~RegexObject();  // releases the engine objects, then CoUninitialize()
  RegexObject(const RegexObject&) = delete;
  RegexObject& operator=(const RegexObject&) = delete;

  bool Search(std::string_view pattern, std::string_view subject, bool caseSensitive = false,
              bool multiline = true, bool global = true, bool quotePlaceholder = false);
  Text GetPattern() const;
  Text ReplaceMatches(std::string_view replacement = {}) const;
  int MatchCount() const;
  Text MatchText(int match, int* position = nullptr) const;
  Text SubMatchText(int match, int group, int* position = nullptr) const;
  int SubMatchCount() const;

 private:
  bool ConvertSubject();

  std::unique_ptr<RegExpObject> regExp_;
  // The subject of the last Search in UTF-16, converted once; matches_ refers to it.
  std::unique_ptr<char16_t[]> wideSubject_;
  std::size_t wideLength_ = 0;
  std::unique_ptr<RegExpMatchList> matches_;
  std::optional<Text> subject_;  // empty before the first Search
};

}  // namespace sellmeter
