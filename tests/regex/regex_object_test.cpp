#include "regex/regex_object.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "regex/com_api.h"
#include "regex/linux/com_api_linux.h"
#include "regex/regexp_engine.h"

namespace sellmeter {
namespace {

// GBK bytes of a few characters used below.
const Text kZhong = "\xD6\xD0";    // 中
const Text kWen = "\xCE\xC4";      // 文
const Text kYin = "\xD2\xFD";      // 引
const Text kHao = "\xBA\xC5";      // 号
const Text kPlaceholder = "#" + kYin + kHao;

TEST(RegexObject, FailedSearchLeavesNothingToRead) {
  RegexObject re;
  EXPECT_FALSE(re.Search("(", "abc"));
  EXPECT_EQ(re.MatchCount(), 0);
  EXPECT_EQ(re.MatchText(1), "");
  EXPECT_EQ(re.SubMatchText(1, 1), "");
  EXPECT_EQ(re.SubMatchCount(), 0);
  EXPECT_EQ(re.GetPattern(), "(");
}

TEST(RegexObject, SearchWithoutMatchesSucceeds) {
  RegexObject re;
  EXPECT_TRUE(re.Search("xyz", "abc"));
  EXPECT_EQ(re.MatchCount(), 0);
  EXPECT_EQ(re.SubMatchCount(), 0);
  EXPECT_EQ(re.MatchText(1), "");
  EXPECT_TRUE(re.Search("a", ""));
  EXPECT_EQ(re.MatchCount(), 0);
  // The empty subject still has one position to match at.
  EXPECT_TRUE(re.Search("^(x?)$", ""));
  EXPECT_EQ(re.MatchCount(), 1);
  EXPECT_EQ(re.SubMatchCount(), 1);
  EXPECT_EQ(re.ReplaceMatches("-"), "-");
}

TEST(RegexObject, DefaultsIgnoreCaseAndAreMultilineAndGlobal) {
  RegexObject re;
  ASSERT_TRUE(re.Search("<td>(.*?)</td>", "<TD>x</TD>\n<td>y</td>"));
  ASSERT_EQ(re.MatchCount(), 2);
  EXPECT_EQ(re.SubMatchText(1, 1), "x");
  EXPECT_EQ(re.SubMatchText(2, 1), "y");
  EXPECT_EQ(re.MatchText(1), "<TD>x</TD>");

  ASSERT_TRUE(re.Search("^b$", "a\nb\nc"));
  EXPECT_EQ(re.MatchCount(), 1);
  ASSERT_TRUE(re.Search("^b$", "a\nb\nc", false, false));
  EXPECT_EQ(re.MatchCount(), 0);
  ASSERT_TRUE(re.Search("<td>", "<TD>", true));
  EXPECT_EQ(re.MatchCount(), 0);
  ASSERT_TRUE(re.Search("a", "aaa", false, true, false));
  EXPECT_EQ(re.MatchCount(), 1);
}

TEST(RegexObject, QuotePlaceholderStandsForADoubleQuote) {
  const Text subject = "x=\"one\" y=\"two\" " + kPlaceholder + "lit" + kPlaceholder;
  const Text pattern = kPlaceholder + "(.*?)" + kPlaceholder;
  RegexObject re;
  ASSERT_TRUE(re.Search(pattern, subject, false, true, true, true));
  ASSERT_EQ(re.MatchCount(), 2);
  EXPECT_EQ(re.SubMatchText(1, 1), "one");
  EXPECT_EQ(re.SubMatchText(2, 1), "two");
  EXPECT_EQ(re.GetPattern(), "\"(.*?)\"");

  ASSERT_TRUE(re.Search(pattern, subject));
  ASSERT_EQ(re.MatchCount(), 1);
  EXPECT_EQ(re.SubMatchText(1, 1), "lit");
  EXPECT_EQ(re.GetPattern(), pattern);
}

TEST(RegexObject, GetPatternIsEmptyBeforeTheFirstSearch) {
  RegexObject re;
  EXPECT_EQ(re.GetPattern(), "");
  EXPECT_EQ(re.ReplaceMatches("x"), "");
  EXPECT_EQ(re.MatchCount(), 0);
  EXPECT_EQ(re.MatchText(1), "");
}

TEST(RegexObject, SubMatchCountIsTheGroupsOfTheFirstMatch) {
  RegexObject re;
  const Text seven = "(a)(b)(c)(d)(e)(f)(g)?";
  ASSERT_TRUE(re.Search(seven, "abcdef"));
  EXPECT_EQ(re.SubMatchCount(), 7);
  EXPECT_EQ(re.SubMatchText(1, 7), "");  // took no part
  EXPECT_EQ(re.SubMatchText(1, 6), "f");
  ASSERT_TRUE(re.Search(seven, "xyz"));
  EXPECT_EQ(re.SubMatchCount(), 0);
}

TEST(RegexObject, NumbersOutsideTheCollectionGiveEmptyTexts) {
  RegexObject re;
  ASSERT_TRUE(re.Search("(a)(b)", "ab ab"));
  for (int match : {0, -1, 3, INT_MIN, INT_MAX}) {
    EXPECT_EQ(re.MatchText(match), "") << match;
    EXPECT_EQ(re.SubMatchText(match, 1), "") << match;
  }
  for (int group : {0, -1, 3, INT_MIN, INT_MAX}) EXPECT_EQ(re.SubMatchText(1, group), "") << group;
  EXPECT_EQ(re.SubMatchText(2, 2), "b");
}

TEST(RegexObject, GbkTextsCrossBothWays) {
  const Text subject = "<td>" + kZhong + kWen + "</td><td>" + kWen + "</td>";
  RegexObject re;
  ASSERT_TRUE(re.Search("<td>(" + kWen + ".*?)</td>", subject));
  ASSERT_EQ(re.MatchCount(), 1);
  EXPECT_EQ(re.SubMatchText(1, 1), kWen);
  ASSERT_TRUE(re.Search("[^<>]+", subject));
  ASSERT_EQ(re.MatchCount(), 6);
  EXPECT_EQ(re.MatchText(2), kZhong + kWen);
}

struct PositionCase {
  const char* what;
  Text pattern;
  Text subject;
  bool caseSensitive;
  int match;
  int group;  // 0: the whole match
  Text text;
  int position;
};

TEST(RegexObject, PositionRule) {
  const PositionCase cases[] = {
      {"first c", "c", "abcabc", false, 1, 0, "c", 2},
      {"second c", "c", "abcabc", false, 2, 0, "c", 5},
      {"letter case ignored", "c", "ABCabc", false, 1, 0, "C", 2},
      {"letter case counted", "c", "ABCabc", true, 1, 0, "c", 5},
      {"group: first occurrence from the match start", "y=(\\d)", "x=1;y=1", false, 1, 1, "1", 6},
      {"empty group counts as found", "(x?)a", "ba", false, 1, 1, "", 0},
      {"not found from the start byte", "(b)a", "ab ba", false, 1, 1, "b", 3},
      // FirstIndex 2 lands on the second byte of the first character: the walk starts at the
      // character's first byte and stays in step.
      {"after double-byte characters", "c", kZhong + kWen + "c", false, 1, 0, "c", 4},
      {"trail byte that looks like the text", "@", kZhong + "\x81\x40" "@", false, 1, 0, "@", 4},
      // A lead byte before a byte that cannot trail reads as one "?", which the subject lacks.
      {"text the subject does not hold", "\\?", "a\x81\x30" "b", false, 1, 0, "?", -2},
  };
  for (const PositionCase& c : cases) {
    RegexObject re;
    ASSERT_TRUE(re.Search(c.pattern, c.subject, c.caseSensitive)) << c.what;
    int position = 12345;
    Text text = c.group == 0 ? re.MatchText(c.match, &position) : re.SubMatchText(c.match, c.group, &position);
    EXPECT_EQ(text, c.text) << c.what;
    EXPECT_EQ(position, c.position) << c.what;
  }
  RegexObject re;
  int untouched = 7;
  EXPECT_EQ(re.MatchText(1, &untouched), "");
  EXPECT_EQ(untouched, 7);
}

TEST(RegexObject, ReplaceMatchesUsesTheLastSearch) {
  RegexObject re;
  ASSERT_TRUE(re.Search("a", "banana"));
  EXPECT_EQ(re.ReplaceMatches("o"), "bonono");
  EXPECT_EQ(re.ReplaceMatches(), "bnn");
  ASSERT_TRUE(re.Search("(" + kWen + ")", kZhong + kWen + kZhong, false, true, false));
  EXPECT_EQ(re.ReplaceMatches("[$1]"), kZhong + "[" + kWen + "]" + kZhong);
  EXPECT_FALSE(re.Search("(", "banana"));
  EXPECT_EQ(re.ReplaceMatches("o"), "");
}

class CountingCom final : public ComApi {
 public:
  long CoInitialize(void* reserved) override {
    calls.push_back(reserved == nullptr ? "init(null)" : "init(ptr)");
    return kComOk;
  }
  void CoUninitialize() override { calls.push_back("uninit"); }
  std::vector<std::string> calls;
};

TEST(RegexObject, EachObjectHoldsOneBalancedComPair) {
  CountingCom com;
  ScopedComApi scoped(com);
  {
    RegexObject first;
    EXPECT_EQ(com.calls, (std::vector<std::string>{"init(null)"}));
    {
      RegexObject second;
      ASSERT_TRUE(second.Search("a", "a"));
      ASSERT_TRUE(second.Search("b", "b"));
    }
    EXPECT_EQ(com.calls, (std::vector<std::string>{"init(null)", "init(null)", "uninit"}));
  }
  EXPECT_EQ(com.calls, (std::vector<std::string>{"init(null)", "init(null)", "uninit", "uninit"}));
}

TEST(RegexObject, LeavesThePlatformComCountAsItFoundIt) {
  ASSERT_EQ(ComInitializationDepth(), 0);
  {
    RegexObject a;
    RegexObject b;
    EXPECT_EQ(ComInitializationDepth(), 2);
  }
  EXPECT_EQ(ComInitializationDepth(), 0);
}

// A scripted engine that records how RegexObject drives it.
struct Script {
  std::vector<std::string> calls;
  bool failCreate = false;
  bool failExecute = false;
  int created = 0;
};

std::string Narrow(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

class EmptyList final : public RegExpMatchList {
 public:
  long Count() const override { return 0; }
  std::unique_ptr<RegExpMatch> Item(long) const override { return nullptr; }
};

class ScriptedRegExp final : public RegExpObject {
 public:
  ScriptedRegExp(Script& script, int id) : script_(script), id_(std::to_string(id)) {}
  ~ScriptedRegExp() override { script_.calls.push_back("release#" + id_); }
  void SetIgnoreCase(bool v) override { script_.calls.push_back("IgnoreCase=" + std::to_string(v)); }
  bool IgnoreCase() const override { return false; }
  void SetMultiline(bool v) override { script_.calls.push_back("Multiline=" + std::to_string(v)); }
  bool Multiline() const override { return false; }
  void SetGlobal(bool v) override { script_.calls.push_back("Global=" + std::to_string(v)); }
  bool Global() const override { return false; }
  void SetPattern(std::u16string_view p) override { script_.calls.push_back("Pattern=" + Narrow(p)); }
  std::u16string Pattern() const override { return u""; }
  std::unique_ptr<RegExpMatchList> Execute(std::u16string_view subject) override {
    script_.calls.push_back("Execute(" + Narrow(subject) + ")");
    if (script_.failExecute) return nullptr;
    return std::make_unique<EmptyList>();
  }
  std::optional<std::u16string> Replace(std::u16string_view, std::u16string_view) override {
    return std::nullopt;
  }

 private:
  Script& script_;
  std::string id_;
};

class ScriptedEngine final : public RegExpEngine {
 public:
  explicit ScriptedEngine(Script& script) : script_(script) {}
  std::unique_ptr<RegExpObject> CreateRegExp() override {
    if (script_.failCreate) {
      script_.calls.push_back("create failed");
      return nullptr;
    }
    int id = ++script_.created;
    script_.calls.push_back("create#" + std::to_string(id));
    return std::make_unique<ScriptedRegExp>(script_, id);
  }

 private:
  Script& script_;
};

TEST(RegexObject, DrivesANewEngineObjectPerSearch) {
  Script script;
  ScriptedEngine engine(script);
  ScopedRegExpEngine scoped(engine);
  {
    RegexObject re;
    EXPECT_TRUE(re.Search("p1", "s1"));
    EXPECT_TRUE(re.Search("p2", "s2", true, false, false));
  }
  EXPECT_EQ(script.calls, (std::vector<std::string>{
                              "create#1", "IgnoreCase=1", "Multiline=1", "Global=1", "Pattern=p1",
                              "Execute(s1)", "release#1", "create#2", "IgnoreCase=0", "Multiline=0",
                              "Global=0", "Pattern=p2", "Execute(s2)", "release#2"}));
}

TEST(RegexObject, EngineFailuresAreFailedSearches) {
  Script script;
  ScriptedEngine engine(script);
  ScopedRegExpEngine scoped(engine);
  RegexObject re;
  script.failCreate = true;
  EXPECT_FALSE(re.Search("p", "s"));
  EXPECT_EQ(re.MatchCount(), 0);
  EXPECT_EQ(re.GetPattern(), "");
  EXPECT_EQ(re.ReplaceMatches("x"), "");
  script.failCreate = false;
  script.failExecute = true;
  EXPECT_FALSE(re.Search("p", "s"));
  EXPECT_EQ(re.MatchCount(), 0);
  EXPECT_EQ(re.MatchText(1), "");
  EXPECT_EQ(re.SubMatchCount(), 0);
  EXPECT_EQ(re.ReplaceMatches("x"), "");
}

}  // namespace
}  // namespace sellmeter
