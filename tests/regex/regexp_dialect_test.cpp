// The Linux engine against the dialect: every place where PCRE2's defaults differ from it.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "regex/regexp_engine.h"

namespace sellmeter {
namespace {

struct Found {
  long firstIndex;
  std::u16string value;
  bool operator==(const Found&) const = default;
};

std::optional<std::vector<Found>> Execute(std::u16string_view pattern, std::u16string subject,
                                          bool ignoreCase = false, bool multiline = false,
                                          bool global = true) {
  std::unique_ptr<RegExpObject> re = PlatformRegExpEngine().CreateRegExp();
  re->SetIgnoreCase(ignoreCase);
  re->SetMultiline(multiline);
  re->SetGlobal(global);
  re->SetPattern(pattern);
  std::unique_ptr<RegExpMatchList> list = re->Execute(subject);
  if (!list) return std::nullopt;
  std::vector<Found> found;
  for (long i = 0; i < list->Count(); ++i) {
    std::unique_ptr<RegExpMatch> m = list->Item(i);
    EXPECT_EQ(m->Length(), static_cast<long>(m->Value().size()));
    found.push_back({m->FirstIndex(), std::u16string(m->Value())});
  }
  return found;
}

struct DialectCase {
  const char* what;
  std::u16string pattern;
  std::u16string subject;
  bool ignoreCase;
  bool multiline;
  std::vector<Found> expected;
};

class Dialect : public testing::TestWithParam<DialectCase> {};

TEST_P(Dialect, MatchesAsTheDialectDoes) {
  const DialectCase& c = GetParam();
  std::optional<std::vector<Found>> found = Execute(c.pattern, c.subject, c.ignoreCase, c.multiline);
  ASSERT_TRUE(found) << c.what;
  EXPECT_EQ(*found, c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    PcreDifferences, Dialect,
    testing::Values(
        DialectCase{"dot stops at LF only", u"a.c", u"a\nc a\rc a\u2028c", false, false,
                    {{4, u"a\rc"}, {8, u"a\u2028c"}}},
        DialectCase{"\\w is ASCII", u"\\w+", u"\u00e9_a1\u00e9", false, false, {{1, u"_a1"}}},
        DialectCase{"\\d is ASCII", u"\\d", u"\u06637", false, false, {{1, u"7"}}},
        DialectCase{"\\s holds VT", u"\\s", u"a\vb", false, false, {{1, u"\v"}}},
        DialectCase{"\\s has no full-width or no-break blank", u"\\s", u"\u3000\u00a0", false, false, {}},
        DialectCase{"\\b follows \\w", u"a\\b", u"a\u00e9", false, false, {{0, u"a"}}},
        DialectCase{"$ only at the end without Multiline", u"a$", u"a\n", false, false, {}},
        DialectCase{"$ before LF with Multiline", u"a$", u"a\na", false, true, {{0, u"a"}, {2, u"a"}}},
        DialectCase{"^ after LF with Multiline", u"^b", u"a\nb", false, true, {{2, u"b"}}},
        DialectCase{"^ only at the start without", u"^b", u"a\nb", false, false, {}},
        DialectCase{"\\u and \\x escapes", u"\\u0041\\x42", u"AB", false, false, {{0, u"AB"}}},
        DialectCase{"short \\x and \\u are letters", u"\\x4\\u12", u"x4u12", false, false, {{0, u"x4u12"}}},
        DialectCase{"\\v is the vertical tab only", u"\\v", u"\n\r\f\v", false, false, {{3, u"\v"}}},
        DialectCase{"unknown letter escapes are the letters", u"\\a\\e\\h\\k\\Q\\R\\K\\X\\U", u"aehkQRKXU",
                    false, false, {{0, u"aehkQRKXU"}}},
        DialectCase{"\\c control letter", u"\\cJ", u"\n", false, false, {{0, u"\n"}}},
        DialectCase{"\\c without a letter", u"\\c1", u"\\c1", false, false, {{0, u"\\c1"}}},
        DialectCase{"[ inside a class is a literal", u"[[:alpha:]]", u"b a]", false, false, {{2, u"a]"}}},
        DialectCase{"empty class matches nothing", u"a[]b|c", u"ab c", false, false, {{3, u"c"}}},
        DialectCase{"negated empty class matches anything", u"a[^]b", u"a\nb", false, false, {{0, u"a\nb"}}},
        DialectCase{"unset back-reference matches empty", u"(a)?b\\1", u"b", false, false, {{0, u"b"}}},
        DialectCase{"forward back-reference matches empty", u"\\1(a)", u"a", false, false, {{0, u"a"}}},
        DialectCase{"back-reference beyond the groups is octal", u"(a)\\2", u"a\u0002", false, false,
                    {{0, u"a\u0002"}}},
        DialectCase{"\\8 without eight groups is the digit", u"\\8", u"8", false, false, {{0, u"8"}}},
        DialectCase{"the dialect's group forms", u"(?:a)(?=b)(?!c)(b)", u"ab", false, false, {{0, u"ab"}}},
        DialectCase{"quantifiers, lazy ones, and braces that are not one", u"a{2}b{1,}?c{,2}x+?y*\\+",
                    u"aabc{,2}xy+ aab", false, false, {{0, u"aabc{,2}xy+"}}},
        DialectCase{"( and ? inside a class", u"[(?*]+", u"x(?*", false, false, {{1, u"(?*"}}},
        DialectCase{"\\0 is NUL", u"\\0", std::u16string(u"a\0", 2), false, false,
                    {{1, std::u16string(u"\0", 1)}}},
        DialectCase{"empty matches advance one unit", u"x*", u"abc", false, false,
                    {{0, u""}, {1, u""}, {2, u""}, {3, u""}}},
        DialectCase{"no second try at an empty match's position", u"|a", u"a", false, false,
                    {{0, u""}, {1, u""}}},
        DialectCase{"empty match after a non-empty one", u"a*", u"baa", false, false,
                    {{0, u""}, {1, u"aa"}, {3, u""}}},
        DialectCase{"case folding beyond ASCII", u"\u00e9\u043f\u03c3", u"\u00c9\u041f\u03a3", true, false,
                    {{0, u"\u00c9\u041f\u03a3"}}},
        DialectCase{"case counts when asked", u"\u00e9", u"\u00c9", false, false, {}},
        DialectCase{"a surrogate pair is one character", u".", u"\U0001F600", false, false,
                    {{0, u"\U0001F600"}}},
        DialectCase{"empty matches step over a surrogate pair", u"x*", u"\U0001F600", false, false,
                    {{0, u""}, {2, u""}}}),
    [](const testing::TestParamInfo<DialectCase>& info) { return "case" + std::to_string(info.index); });

TEST(Dialect, GlobalOffGivesTheFirstMatchOnly) {
  EXPECT_EQ(Execute(u"a", u"baaa", false, false, false), (std::vector<Found>{{1, u"a"}}));
}

TEST(Dialect, SubMatchesOfUnsetGroupsAreEmptyItems) {
  std::unique_ptr<RegExpObject> re = PlatformRegExpEngine().CreateRegExp();
  re->SetPattern(u"(a)|(b)(c)?");
  std::unique_ptr<RegExpMatchList> list = re->Execute(u"b");
  ASSERT_TRUE(list);
  ASSERT_EQ(list->Count(), 1);
  std::unique_ptr<RegExpMatch> m = list->Item(0);
  const RegExpSubMatches& sub = m->SubMatches();
  ASSERT_EQ(sub.Count(), 3);
  EXPECT_FALSE(sub.Item(0));
  EXPECT_EQ(sub.Item(1), std::u16string_view(u"b"));
  EXPECT_FALSE(sub.Item(2));
  EXPECT_FALSE(sub.Item(3));
  EXPECT_FALSE(sub.Item(-1));
  EXPECT_FALSE(list->Item(1));
  EXPECT_FALSE(list->Item(-1));
}

TEST(Dialect, SyntaxErrorsFailTheSearch) {
  // PCRE2's own group forms and verbs would change the dialect; here they are errors.
  for (const char16_t* pattern : {u"(", u")", u"[a", u"a**", u"?", u"a\\", u"a{2,1}", u"(*UCP)\\w",
                                  u"(*CR)a", u"(?i)a", u"(?s).", u"(?<=a)b", u"(?<n>a)", u"(?#c)a",
                                  u"(?>a)", u"(?|a)", u"(?1)(a)", u"(?", u"a*+", u"a++b", u"a?+", u"a{2}+",
                                  u"a*?+"}) {
    EXPECT_FALSE(Execute(pattern, u"aaa")) << std::string(pattern, pattern + std::char_traits<char16_t>::length(pattern));
  }
}

TEST(Dialect, PathologicalSearchGivesUp) {
  // The required "b" is there, so the engine cannot rule the subject out before backtracking.
  EXPECT_FALSE(Execute(u"(a+)+b", std::u16string(40, u'a') + u"!b"));
  EXPECT_FALSE(Execute(u"(?:a|aa)*(?:a|aa)*c", std::u16string(3000, u'a') + u"!c"));
}

TEST(Dialect, InvalidUtf16SubjectFails) {
  EXPECT_FALSE(Execute(u"a", std::u16string(u"a\xD800" u"a")));
  EXPECT_FALSE(Execute(u"a", std::u16string(u"a\xDC00")));
}

TEST(Dialect, PropertiesChangeBetweenExecutes) {
  std::unique_ptr<RegExpObject> re = PlatformRegExpEngine().CreateRegExp();
  re->SetPattern(u"A");
  re->SetGlobal(true);
  EXPECT_EQ(re->Execute(u"aA")->Count(), 1);
  re->SetIgnoreCase(true);
  EXPECT_EQ(re->Execute(u"aA")->Count(), 2);
  re->SetGlobal(false);
  EXPECT_EQ(re->Execute(u"aA")->Count(), 1);
  re->SetPattern(u"(");
  EXPECT_FALSE(re->Execute(u"aA"));
  EXPECT_EQ(re->Pattern(), u"(");
}

struct ReplaceCase {
  std::u16string pattern;
  bool global;
  std::u16string replacement;
  std::u16string expected;
};

TEST(Dialect, ReplaceExpandsLikeEcmaScript) {
  const ReplaceCase cases[] = {
      {u"a", true, u"o", u"bonono"},
      {u"a", false, u"o", u"bonana"},
      {u"(a)(n)", true, u"$2$1", u"bnanaa"},
      {u"n", true, u"[$&|$`|$']", u"ba[n|ba|ana]a[n|bana|a]a"},
      {u"n", false, u"$$", u"ba$ana"},
      {u"(a)(n)", false, u"$3$0$", u"b$3$0$ana"},
      {u"(a)", false, u"$01$10", u"baa0nana"},
      {u"(x)?n", false, u"<$1>", u"ba<>ana"},
      {u"x*", true, u"-", u"-b-a-n-a-n-a-"},
  };
  for (const ReplaceCase& c : cases) {
    std::unique_ptr<RegExpObject> re = PlatformRegExpEngine().CreateRegExp();
    re->SetGlobal(c.global);
    re->SetPattern(c.pattern);
    EXPECT_EQ(re->Replace(u"banana", c.replacement), c.expected);
  }
  std::unique_ptr<RegExpObject> broken = PlatformRegExpEngine().CreateRegExp();
  broken->SetPattern(u"(");
  EXPECT_FALSE(broken->Replace(u"banana", u"x"));
}

}  // namespace
}  // namespace sellmeter
