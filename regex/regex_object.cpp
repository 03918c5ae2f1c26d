#include "regex/regex_object.h"

#include <climits>
#include <new>

#include "regex/com_api.h"
#include "regex/regexp_engine.h"
#include "text/codepage.h"
#include "text/gbk_text.h"

namespace sellmeter {
namespace {

// "#引号" in GBK: stands for a double quote in patterns written inside quoted source text.
constexpr std::string_view kQuotePlaceholder = "#\xD2\xFD\xBA\xC5";

Text ReplaceAll(std::string_view text, std::string_view what, std::string_view with) {
  Text out;
  out.reserve(text.size());
  std::size_t from = 0;
  for (std::size_t at; (at = text.find(what, from)) != std::string_view::npos; from = at + what.size()) {
    out.append(text.substr(from, at - from));
    out.append(with);
  }
  out.append(text.substr(from));
  return out;
}

// 1-based start of the character that holds the 1-based byte position, walking from the
// start of text; a position on the second byte of a double-byte character moves back to its
// first, so the walk from there stays in step with the characters.
std::size_t CharacterStart(std::string_view text, std::size_t position) {
  std::size_t at = 0;  // 0-based start of the current character
  const std::size_t target = position - 1;
  while (at < text.size()) {
    std::size_t width = IsGbkLeadByte(static_cast<unsigned char>(text[at])) && at + 1 < text.size() ? 2 : 1;
    if (target < at + width) return at + 1;
    at += width;
  }
  return position;
}

}  // namespace

RegexObject::RegexObject() { Com().CoInitialize(nullptr); }

RegexObject::~RegexObject() {
  regExp_.reset();
  matches_.reset();
  subject_.reset();
  wideSubject_.reset();
  Com().CoUninitialize();
}

// The subject in UTF-16 through the ANSI code page, written straight into a buffer of its own
// (no code page gives more units than bytes) so a page is touched once, not zeroed first.
bool RegexObject::ConvertSubject() {
  wideSubject_.reset();
  wideLength_ = 0;
  const Text& subject = *subject_;
  if (subject.empty()) return true;
  if (subject.size() > static_cast<std::size_t>(INT_MAX)) return false;
  wideSubject_.reset(new (std::nothrow) char16_t[subject.size()]);
  if (!wideSubject_) return false;
  const int length = static_cast<int>(subject.size());
  const int units = CodePages().MultiByteToWideChar(kCpAcp, 0, subject.data(), length, wideSubject_.get(), length);
  if (units <= 0) {
    wideSubject_.reset();
    return false;
  }
  wideLength_ = static_cast<std::size_t>(units);
  return true;
}

bool RegexObject::Search(std::string_view pattern, std::string_view subject, bool caseSensitive,
                         bool multiline, bool global, bool quotePlaceholder) {
  matches_.reset();
  regExp_.reset();
  regExp_ = RegExps().CreateRegExp();
  if (regExp_) {
    regExp_->SetIgnoreCase(!caseSensitive);
    regExp_->SetMultiline(multiline);
    regExp_->SetGlobal(global);
    Text formed = quotePlaceholder ? ReplaceAll(pattern, kQuotePlaceholder, "\"") : Text(pattern);
    regExp_->SetPattern(TextToU16(formed, kCpAcp));
  }
  subject_ = Text(subject);
  if (ConvertSubject() && regExp_)
    matches_ = regExp_->Execute(std::u16string_view(wideSubject_.get(), wideLength_));
  return matches_ != nullptr;
}

Text RegexObject::GetPattern() const {
  if (!regExp_) return {};
  return U16ToText(regExp_->Pattern(), kCpAcp);
}

Text RegexObject::ReplaceMatches(std::string_view replacement) const {
  if (!regExp_ || !subject_ || (!wideSubject_ && !subject_->empty())) return {};
  std::optional<std::u16string> replaced = regExp_->Replace(
      std::u16string_view(wideSubject_.get(), wideLength_), TextToU16(replacement, kCpAcp));
  if (!replaced) return {};
  return U16ToText(*replaced, kCpAcp);
}

int RegexObject::MatchCount() const {
  if (!matches_) return 0;
  const long count = matches_->Count();
  return count > INT_MAX ? INT_MAX : static_cast<int>(count);
}

namespace {

// The position rule: the first occurrence of sought in the subject at or after byte
// FirstIndex, as a 0-based byte offset; -2 when there is none.
int PositionOf(std::string_view subject, std::string_view sought, long firstIndex, bool ignoreCase) {
  std::size_t start = firstIndex > 0 ? static_cast<std::size_t>(firstIndex) : 1;
  if (sought.empty()) return start <= subject.size() ? 0 : -2;
  if (start > subject.size()) return -2;
  std::size_t found = FindText(subject, sought, CharacterStart(subject, start), ignoreCase);
  return found == 0 ? -2 : static_cast<int>(found - 1);
}

}  // namespace

Text RegexObject::MatchText(int match, int* position) const {
  if (!matches_ || match < 1) return {};
  std::unique_ptr<RegExpMatch> item = matches_->Item(static_cast<long>(match) - 1);
  if (!item) return {};
  Text text = U16ToText(item->Value(), kCpAcp);
  if (position) *position = PositionOf(*subject_, text, item->FirstIndex(), regExp_->IgnoreCase());
  return text;
}

Text RegexObject::SubMatchText(int match, int group, int* position) const {
  if (!matches_ || match < 1 || group < 1) return {};
  std::unique_ptr<RegExpMatch> item = matches_->Item(static_cast<long>(match) - 1);
  if (!item) return {};
  std::optional<std::u16string_view> value = item->SubMatches().Item(group - 1);
  Text text = value ? U16ToText(*value, kCpAcp) : Text();
  if (position) *position = PositionOf(*subject_, text, item->FirstIndex(), regExp_->IgnoreCase());
  return text;
}

int RegexObject::SubMatchCount() const {
  if (!matches_) return 0;
  std::unique_ptr<RegExpMatch> item = matches_->Item(0);
  if (!item) return 0;
  return item->SubMatches().Count();
}

}  // namespace sellmeter
