#pragma once
// The pattern engine behind RegexObject, shaped after the VBScript.RegExp automation object:
// a RegExp with the properties IgnoreCase, Multiline, Global and Pattern, an Execute that
// returns a match collection (Count, Item -> Value, FirstIndex, Length, SubMatches), and
// Replace. Subjects, patterns and results are UTF-16 code units; FirstIndex and Length count
// code units. Failures are results: a null collection, an empty optional.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "text/seam.h"

namespace sellmeter {

// The SubMatches collection of one match: one item per capture group of the pattern.
class RegExpSubMatches {
 public:
  virtual ~RegExpSubMatches() = default;
  virtual int Count() const = 0;
  // The group's text; empty optional (the Empty variant) for a group that did not take part
  // in the match and for an index outside 0 .. Count() - 1.
  virtual std::optional<std::u16string_view> Item(int index) const = 0;
};

// One Item of a match collection. Views stay valid while the collection lives.
class RegExpMatch {
 public:
  virtual ~RegExpMatch() = default;
  virtual std::u16string_view Value() const = 0;
  virtual long FirstIndex() const = 0;
  virtual long Length() const = 0;
  virtual const RegExpSubMatches& SubMatches() const = 0;
};

class RegExpMatchList {
 public:
  virtual ~RegExpMatchList() = default;
  virtual long Count() const = 0;
  // Item with a 0-based index; null outside 0 .. Count() - 1.
  virtual std::unique_ptr<RegExpMatch> Item(long index) const = 0;
};

class RegExpObject {
 public:
  virtual ~RegExpObject() = default;
  virtual void SetIgnoreCase(bool value) = 0;
  virtual bool IgnoreCase() const = 0;
  virtual void SetMultiline(bool value) = 0;
  virtual bool Multiline() const = 0;
  virtual void SetGlobal(bool value) = 0;
  virtual bool Global() const = 0;
  virtual void SetPattern(std::u16string_view pattern) = 0;
  virtual std::u16string Pattern() const = 0;

  // All matches (Global) or the first, in subject order; null when the pattern does not
  // compile or the search cannot be completed. The collection refers to subject, which the
  // caller keeps unchanged while the collection lives.
  virtual std::unique_ptr<RegExpMatchList> Execute(std::u16string_view subject) = 0;

  // subject with the matches replaced by replacement, in which $$, $&, $`, $' and $1 .. $99
  // are expanded; empty optional on the failures of Execute.
  virtual std::optional<std::u16string> Replace(std::u16string_view subject,
                                                std::u16string_view replacement) = 0;
};

// The factory of RegExp objects: CreateObject("VBScript.RegExp").
class RegExpEngine {
 public:
  virtual ~RegExpEngine() = default;
  // A new object with IgnoreCase, Multiline and Global false and an empty Pattern; null when
  // the object cannot be created.
  virtual std::unique_ptr<RegExpObject> CreateRegExp() = 0;
};

RegExpEngine& PlatformRegExpEngine();  // defined by the platform layer
using ScopedRegExpEngine = SeamOverride<RegExpEngine>;

// The one in force.
inline RegExpEngine& RegExps() { return ScopedRegExpEngine::InForce(PlatformRegExpEngine); }

}  // namespace sellmeter
