#include "regex/linux/pcre2_regexp.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "regex/regexp_engine.h"

namespace sellmeter {
namespace {

constexpr bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
constexpr bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
constexpr bool IsOctal(char16_t c) { return c >= u'0' && c <= u'7'; }
constexpr bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
constexpr bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

void AppendUnit(std::u16string& out, unsigned value) {
  static constexpr char16_t hex[] = u"0123456789ABCDEF";
  out += u"\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += hex[(value >> shift) & 0xF];
}

// The end of a quantifier starting at i ("*", "+", "?", "{n}", "{n,}", "{n,m}"); 0 when there
// is none ("{" without that form is a literal).
std::size_t QuantifierEnd(std::u16string_view p, std::size_t i) {
  const char16_t c = p[i];
  if (c == u'*' || c == u'+' || c == u'?') return i + 1;
  if (c != u'{') return 0;
  std::size_t j = i + 1;
  const std::size_t digits = j;
  while (j < p.size() && IsDigit(p[j])) ++j;
  if (j == digits) return 0;
  if (j < p.size() && p[j] == u',') {
    ++j;
    while (j < p.size() && IsDigit(p[j])) ++j;
  }
  return j < p.size() && p[j] == u'}' ? j + 1 : 0;
}

// Capture groups: every "(" outside a class that is not followed by "?".
int CountGroups(std::u16string_view p) {
  int groups = 0;
  bool inClass = false;
  for (std::size_t i = 0; i < p.size(); ++i) {
    char16_t c = p[i];
    if (c == u'\\') {
      ++i;
    } else if (inClass) {
      if (c == u']') inClass = false;
    } else if (c == u'[') {
      inClass = true;
      if (i + 1 < p.size() && p[i + 1] == u'^') ++i;
      if (i + 1 < p.size() && p[i + 1] == u']') {  // "[]" and "[^]" end where they start
        ++i;
        inClass = false;
      }
    } else if (c == u'(' && !(i + 1 < p.size() && p[i + 1] == u'?')) {
      ++groups;
    }
  }
  return groups;
}

}  // namespace

std::optional<std::u16string> TranslateRegExpPattern(std::u16string_view p) {
  const int groups = CountGroups(p);
  std::u16string out;
  out.reserve(p.size() + 8);
  bool inClass = false;
  bool afterOpen = false;  // the last character was an unescaped "(" outside a class
  for (std::size_t i = 0; i < p.size(); ++i) {
    char16_t c = p[i];
    const bool groupStart = afterOpen;
    afterOpen = false;
    if (c != u'\\' && !inClass) {
      const std::size_t end = (c == u'?' && groupStart) ? 0 : QuantifierEnd(p, i);
      if (end != 0) {
        // PCRE2 makes a quantifier followed by "+" possessive; here that is a syntax error.
        std::size_t next = end < p.size() && p[end] == u'?' ? end + 1 : end;
        if (next < p.size() && p[next] == u'+') return std::nullopt;
        out.append(p.substr(i, next - i));
        i = next - 1;
        continue;
      }
      afterOpen = c == u'(';
    }
    if (c != u'\\') {
      if (inClass) {
        if (c == u']') inClass = false;
        // PCRE2 reads "[:", "[." and "[=" inside a class as POSIX classes; here "[" is a literal.
        if (c == u'[') {
          out += u"\\[";
          continue;
        }
      } else if (c == u'(' && i + 1 < p.size()) {
        // The dialect's groups are "(", "(?:", "(?=" and "(?!". PCRE2's other forms (verbs and
        // settings such as "(*UCP)", inline options, look-behind, named, atomic and
        // conditional groups, comments, callouts) are syntax errors here, not dialect changes.
        const char16_t next = p[i + 1];
        if (next == u'*') return std::nullopt;
        if (next == u'?' && !(i + 2 < p.size() && (p[i + 2] == u':' || p[i + 2] == u'=' || p[i + 2] == u'!')))
          return std::nullopt;
      } else if (c == u'[') {
        inClass = true;
        out += c;
        if (i + 1 < p.size() && p[i + 1] == u'^') out += p[++i];
        if (i + 1 < p.size() && p[i + 1] == u']') {  // empty class, or the class of everything
          out += p[++i];
          inClass = false;
        }
        continue;
      }
      out += c;
      continue;
    }
    if (i + 1 >= p.size()) {  // a trailing backslash stays a syntax error
      out += c;
      continue;
    }
    char16_t e = p[++i];
    if (IsDigit(e)) {
      if (e == u'0' && !(i + 1 < p.size() && IsDigit(p[i + 1]))) {
        out += u"\\u0000";
        continue;
      }
      if (!inClass && e != u'0') {
        std::size_t end = i;
        long number = 0;
        while (end < p.size() && IsDigit(p[end]) && number <= groups) number = number * 10 + (p[end++] - u'0');
        if (number <= groups) {
          out += u"\\g{";
          out.append(p.substr(i, end - i));
          out += u'}';
          i = end - 1;
          continue;
        }
      }
      if (!IsOctal(e)) {  // \8 and \9 without such a group are the digits themselves
        out += e;
        continue;
      }
      unsigned value = e - u'0';
      std::size_t maxDigits = e <= u'3' ? 3 : 2;
      std::size_t used = 1;
      while (used < maxDigits && i + 1 < p.size() && IsOctal(p[i + 1])) {
        value = value * 8 + (p[++i] - u'0');
        ++used;
      }
      AppendUnit(out, value);
      continue;
    }
    if (!IsAsciiLetter(e)) {  // an escaped punctuation or non-ASCII character is itself
      out += c;
      out += e;
      continue;
    }
    switch (e) {
      case u'd': case u'D': case u's': case u'S': case u'w': case u'W':
      case u'f': case u'n': case u'r': case u't': case u'x': case u'u':
        out += c;
        out += e;
        break;
      case u'b':  // word boundary outside a class, backspace inside: the same in PCRE2
        out += c;
        out += e;
        break;
      case u'B':
        if (inClass) {
          out += e;
        } else {
          out += c;
          out += e;
        }
        break;
      case u'v':  // the vertical tab, not PCRE2's class of vertical blanks
        out += u"\\x0B";
        break;
      case u'c':
        if (i + 1 < p.size() && (IsAsciiLetter(p[i + 1]) || (inClass && (IsDigit(p[i + 1]) || p[i + 1] == u'_')))) {
          AppendUnit(out, p[++i] % 32);
        } else {  // "\c" not followed by a control letter is a backslash and a "c"
          out += u"\\\\c";
        }
        break;
      default:  // \a, \e, \h, \K, \Q, \R, \X ... are identity escapes here
        out += e;
        break;
    }
  }
  return out;
}

std::uint32_t RegExpCompileOptions(bool ignoreCase, bool multiline) {
  std::uint32_t options = PCRE2_UTF | PCRE2_ALT_BSUX | PCRE2_ALLOW_EMPTY_CLASS |
                          PCRE2_MATCH_UNSET_BACKREF | PCRE2_NEVER_BACKSLASH_C;
  options |= multiline ? PCRE2_MULTILINE : PCRE2_DOLLAR_ENDONLY;
  if (ignoreCase) options |= PCRE2_CASELESS;
  return options;
}

namespace {

constexpr std::uint32_t kUnset = std::numeric_limits<std::uint32_t>::max();

struct CodeDeleter {
  void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct MatchDataDeleter {
  void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};
struct MatchContextDeleter {
  void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
};
struct CompileContextDeleter {
  void operator()(pcre2_compile_context* context) const { pcre2_compile_context_free(context); }
};
struct JitStackDeleter {
  void operator()(pcre2_jit_stack* stack) const { pcre2_jit_stack_free(stack); }
};

// The offsets of every match in one flat array: per match the start and end of the whole
// match and of each group, kUnset for a group that did not take part.
struct MatchOffsets {
  int groups = 0;
  std::vector<std::uint32_t> offsets;
  std::size_t Stride() const { return 2 * (static_cast<std::size_t>(groups) + 1); }
  long Count() const { return static_cast<long>(offsets.size() / Stride()); }
};

// Whether any unit is a surrogate half. Fixed-size blocks let the compiler vectorise the
// reduction at -O2; the page is scanned at memory speed.
bool HasSurrogate(std::u16string_view text) {
  constexpr std::size_t kBlock = 1024;
  const char16_t* p = text.data();
  std::size_t n = text.size();
  for (; n >= kBlock; n -= kBlock, p += kBlock) {
    std::uint16_t found = 0;
    for (std::size_t i = 0; i < kBlock; ++i)
      found |= static_cast<std::uint16_t>((p[i] & 0xF800u) == 0xD800u ? 1u : 0u);
    if (found) return true;
  }
  for (std::size_t i = 0; i < n; ++i)
    if ((p[i] & 0xF800u) == 0xD800u) return true;
  return false;
}

class PcreMatch final : public RegExpMatch, public RegExpSubMatches {
 public:
  PcreMatch(std::u16string_view subject, const std::uint32_t* offsets, int groups)
      : subject_(subject), offsets_(offsets), groups_(groups) {}

  std::u16string_view Value() const override {
    return subject_.substr(offsets_[0], offsets_[1] - offsets_[0]);
  }
  long FirstIndex() const override { return static_cast<long>(offsets_[0]); }
  long Length() const override { return static_cast<long>(offsets_[1] - offsets_[0]); }
  const RegExpSubMatches& SubMatches() const override { return *this; }

  int Count() const override { return groups_; }
  std::optional<std::u16string_view> Item(int index) const override {
    if (index < 0 || index >= groups_) return std::nullopt;
    std::uint32_t start = offsets_[2 + 2 * index];
    std::uint32_t end = offsets_[3 + 2 * index];
    if (start == kUnset) return std::nullopt;
    return subject_.substr(start, end - start);
  }

 private:
  std::u16string_view subject_;
  const std::uint32_t* offsets_;
  int groups_;
};

class PcreMatchList final : public RegExpMatchList {
 public:
  PcreMatchList(std::u16string_view subject, MatchOffsets matches)
      : subject_(subject), matches_(std::move(matches)) {}

  long Count() const override { return matches_.Count(); }
  std::unique_ptr<RegExpMatch> Item(long index) const override {
    if (index < 0 || index >= Count()) return nullptr;
    return std::make_unique<PcreMatch>(subject_, &matches_.offsets[index * matches_.Stride()],
                                       matches_.groups);
  }

 private:
  std::u16string_view subject_;
  MatchOffsets matches_;
};

// Appends the ECMAScript expansion of replacement for one match.
void ExpandReplacement(std::u16string& out, std::u16string_view subject, const std::uint32_t* m,
                       int groups, std::u16string_view replacement) {
  auto group = [&](int n) {
    if (m[2 * n] != kUnset) out.append(subject.substr(m[2 * n], m[2 * n + 1] - m[2 * n]));
  };
  for (std::size_t i = 0; i < replacement.size(); ++i) {
    char16_t c = replacement[i];
    if (c != u'$' || i + 1 >= replacement.size()) {
      out += c;
      continue;
    }
    char16_t n = replacement[i + 1];
    if (n == u'$') {
      out += u'$';
      ++i;
    } else if (n == u'&') {
      group(0);
      ++i;
    } else if (n == u'`') {
      out.append(subject.substr(0, m[0]));
      ++i;
    } else if (n == u'\'') {
      out.append(subject.substr(m[1]));
      ++i;
    } else if (IsDigit(n)) {
      int one = n - u'0';
      int two = (i + 2 < replacement.size() && IsDigit(replacement[i + 2]))
                    ? one * 10 + (replacement[i + 2] - u'0')
                    : -1;
      if (two >= 1 && two <= groups) {
        group(two);
        i += 2;
      } else if (one >= 1 && one <= groups) {
        group(one);
        i += 1;
      } else {
        out += c;
      }
    } else {
      out += c;
    }
  }
}

class PcreRegExp final : public RegExpObject {
 public:
  void SetIgnoreCase(bool value) override { Change(ignoreCase_, value); }
  bool IgnoreCase() const override { return ignoreCase_; }
  void SetMultiline(bool value) override { Change(multiline_, value); }
  bool Multiline() const override { return multiline_; }
  void SetGlobal(bool value) override { global_ = value; }
  bool Global() const override { return global_; }
  void SetPattern(std::u16string_view pattern) override {
    pattern_.assign(pattern);
    code_.reset();
  }
  std::u16string Pattern() const override { return pattern_; }

  // Memory running out while the offsets grow (a pattern of many groups with an empty match
  // at every position of a big page) is a failed search, not an exception to the caller.
  std::unique_ptr<RegExpMatchList> Execute(std::u16string_view subject) override try {
    MatchOffsets matches;
    if (!Run(subject, matches)) return nullptr;
    return std::make_unique<PcreMatchList>(subject, std::move(matches));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }

  std::optional<std::u16string> Replace(std::u16string_view subject,
                                        std::u16string_view replacement) override try {
    MatchOffsets matches;
    if (!Run(subject, matches)) return std::nullopt;
    std::u16string out;
    out.reserve(subject.size());
    std::size_t copied = 0;
    for (long j = 0; j < matches.Count(); ++j) {
      const std::uint32_t* m = &matches.offsets[j * matches.Stride()];
      out.append(subject.substr(copied, m[0] - copied));
      ExpandReplacement(out, subject, m, matches.groups, replacement);
      copied = m[1];
    }
    out.append(subject.substr(copied));
    return out;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }

 private:
  template <typename T>
  void Change(T& field, T value) {
    if (field != value) code_.reset();
    field = value;
  }

  bool Compile() {
    if (code_) return true;
    std::unique_ptr<pcre2_compile_context, CompileContextDeleter> context(pcre2_compile_context_create(nullptr));
    if (!context) return false;
    pcre2_set_newline(context.get(), PCRE2_NEWLINE_LF);
    std::optional<std::u16string> translated = TranslateRegExpPattern(pattern_);
    if (!translated) return false;
    int error = 0;
    PCRE2_SIZE errorOffset = 0;
    code_.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated->data()), translated->size(),
                              RegExpCompileOptions(ignoreCase_, multiline_), &error, &errorOffset,
                              context.get()));
    if (!code_) return false;
    // Without JIT (an unsupported host) the interpreter gives the same results, slower.
    jitted_ = pcre2_jit_compile(code_.get(), PCRE2_JIT_COMPLETE) == 0;
    data_.reset(pcre2_match_data_create_from_pattern(code_.get(), nullptr));
    if (!context_) {
      context_.reset(pcre2_match_context_create(nullptr));
      if (!context_) return false;
      pcre2_set_match_limit(context_.get(), kRegExpMatchLimit);
      pcre2_set_depth_limit(context_.get(), kRegExpDepthLimit);
      pcre2_set_heap_limit(context_.get(), kRegExpHeapLimitKiB);
    }
    if (jitted_) {
      // One JIT stack per thread, shared by its searches (one runs at a time): mapping and
      // unmapping 8 MB for every object cost ten times a short search.
      thread_local std::unique_ptr<pcre2_jit_stack, JitStackDeleter> threadStack(
          pcre2_jit_stack_create(32 * 1024, 8 * 1024 * 1024, nullptr));
      if (threadStack) pcre2_jit_stack_assign(context_.get(), nullptr, threadStack.get());
    }
    if (!data_) code_.reset();
    return code_ != nullptr;
  }

  // All matches, or the first when Global is off. The subject's UTF-16 is checked once: a
  // subject without surrogates (every page that came from GBK) is valid as it stands; one
  // with them is checked by the first match call. Later calls start at positions this loop
  // knows to be character starts.
  bool Run(std::u16string_view subject, MatchOffsets& matches) {
    if (!Compile()) return false;
    if (subject.size() >= kUnset) return false;
    std::uint32_t groupCount = 0;
    pcre2_pattern_info(code_.get(), PCRE2_INFO_CAPTURECOUNT, &groupCount);
    matches.groups = static_cast<int>(groupCount);
    // PCRE2 releases before 10.42 refuse a null subject even when it is empty.
    static constexpr char16_t kEmpty[1] = {0};
    const auto* units = reinterpret_cast<PCRE2_SPTR>(subject.data() ? subject.data() : kEmpty);
    const std::size_t length = subject.size();
    std::uint32_t options = HasSurrogate(subject) ? 0 : PCRE2_NO_UTF_CHECK;
    std::size_t offset = 0;
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data_.get());
    while (offset <= length) {
      int rc = pcre2_match(code_.get(), units, length, offset, options, data_.get(), context_.get());
      options = PCRE2_NO_UTF_CHECK;
      if (rc == PCRE2_ERROR_NOMATCH) break;
      if (rc <= 0) return false;  // invalid UTF-16, a limit reached, no memory
      for (std::uint32_t g = 0; g <= groupCount; ++g) {
        bool set = g < static_cast<std::uint32_t>(rc) && ovector[2 * g] != PCRE2_UNSET;
        matches.offsets.push_back(set ? static_cast<std::uint32_t>(ovector[2 * g]) : kUnset);
        matches.offsets.push_back(set ? static_cast<std::uint32_t>(ovector[2 * g + 1]) : kUnset);
      }
      if (!global_) break;
      std::size_t start = ovector[0];
      std::size_t end = ovector[1];
      if (end > start) {
        offset = end;
      } else {
        // After an empty match the search moves on by one code unit; the UTF engine cannot
        // start between the halves of a surrogate pair, so such a pair is stepped over whole.
        offset = end + 1;
        if (offset < length && IsLowSurrogate(subject[offset]) && IsHighSurrogate(subject[offset - 1])) ++offset;
      }
    }
    return true;
  }

  bool ignoreCase_ = false;
  bool multiline_ = false;
  bool global_ = false;
  std::u16string pattern_;
  std::unique_ptr<pcre2_code, CodeDeleter> code_;
  std::unique_ptr<pcre2_match_data, MatchDataDeleter> data_;
  std::unique_ptr<pcre2_match_context, MatchContextDeleter> context_;
  bool jitted_ = false;
};

class PcreEngine final : public RegExpEngine {
 public:
  std::unique_ptr<RegExpObject> CreateRegExp() override { return std::make_unique<PcreRegExp>(); }
};

}  // namespace

RegExpEngine& PlatformRegExpEngine() {
  static PcreEngine engine;
  return engine;
}

}  // namespace sellmeter
