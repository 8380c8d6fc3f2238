// The command line and the choice of language, without a window.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "app/installer_app.h"

namespace {

StartOptions scan(std::initializer_list<const char*> args) {
  std::vector<std::string> store = {"setup"};
  store.insert(store.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : store) argv.push_back(s.data());
  argv.push_back(nullptr);
  return scan_command_line(static_cast<int>(store.size()), argv.data());
}

TEST(CommandLine, NoArgumentsMeanInteractiveEnglishBesideTheExecutable) {
  const StartOptions o = scan({});
  EXPECT_FALSE(o.useCurrentDir);
  EXPECT_FALSE(o.silentMode);
  EXPECT_EQ(o.langId, 0);
  EXPECT_EQ(o.langCode, u"en");
}

TEST(CommandLine, SilentSwitchIsJudgedByItsSecondCharacterOnly) {
  EXPECT_TRUE(scan({"-S"}).silentMode);
  EXPECT_TRUE(scan({"/s"}).silentMode);
  EXPECT_TRUE(scan({"-Silent"}).silentMode);
  EXPECT_TRUE(scan({"-sx", "other"}).silentMode);
  EXPECT_FALSE(scan({"--S"}).silentMode);
  EXPECT_FALSE(scan({"S"}).silentMode);
  EXPECT_FALSE(scan({"-"}).silentMode);
  EXPECT_FALSE(scan({"-x"}).silentMode);
}

TEST(CommandLine, LanguageOptionTakesTheRestAndEndsTheScan) {
  StartOptions o = scan({"-Lde"});
  EXPECT_EQ(o.langId, kLangGerman);
  EXPECT_EQ(o.langCode, u"de");
  o = scan({"-Lru", "-S"});
  EXPECT_EQ(o.langId, kLangRussian);
  EXPECT_FALSE(o.silentMode) << "options after -L are never seen";
  o = scan({"-S", "/lru"});
  EXPECT_TRUE(o.silentMode);
  EXPECT_EQ(o.langId, kLangRussian);
  // An unknown or empty code also ends the scan and leaves English.
  o = scan({"-Lxx", "-S"});
  EXPECT_EQ(o.langId, 0);
  EXPECT_EQ(o.langCode, u"en");
  EXPECT_FALSE(o.silentMode);
  o = scan({"-L"});
  EXPECT_EQ(o.langId, 0);
  EXPECT_EQ(o.langCode, u"en");
  // Codes are compared exactly.
  EXPECT_EQ(scan({"-LRU"}).langId, 0);
  EXPECT_EQ(scan({"-Lru_RU"}).langId, 0);
}

TEST(CommandLine, UsecwdCountsOnlyAsTheFirstArgument) {
  StartOptions o = scan({"usecwd", "-S"});
  EXPECT_TRUE(o.useCurrentDir);
  EXPECT_TRUE(o.silentMode);
  o = scan({"-S", "usecwd"});
  EXPECT_FALSE(o.useCurrentDir);
  EXPECT_TRUE(o.silentMode);
  EXPECT_FALSE(scan({"USECWD"}).useCurrentDir);
  EXPECT_FALSE(scan({"usecwd2"}).useCurrentDir);
}

TEST(LocaleLanguage, UsesTheFirstTwoBytesOfTheLocaleName) {
  EXPECT_EQ(lang_from_locale_name("uk_UA.UTF-8"), kLangUkrainian);
  EXPECT_EQ(lang_from_locale_name("ru_RU.UTF-8"), kLangRussian);
  EXPECT_EQ(lang_from_locale_name("kk"), kLangKazakh);
  EXPECT_EQ(lang_from_locale_name("C"), 0);
  EXPECT_EQ(lang_from_locale_name("C.UTF-8"), 0);
  EXPECT_EQ(lang_from_locale_name("POSIX"), 0);
  EXPECT_EQ(lang_from_locale_name(""), 0);
  EXPECT_EQ(lang_from_locale_name(nullptr), 0);
}

// The environment's locale as the language choice sees it; counts how often
// it was asked, because a known -L code must not consult it at all.
int g_localeQueries = 0;
const char* g_localeName = nullptr;
const char* query_locale() {
  ++g_localeQueries;
  return g_localeName;
}

// The language chosen for a command line in a locale: (langId, langCode).
std::pair<LangIdType, wstring> choose(std::initializer_list<const char*> args, const char* locale,
                                      int* queries = nullptr) {
  StartOptions o = scan(args);
  g_localeQueries = 0;
  g_localeName = locale;
  const LangIdType chosen = choose_language(o, &query_locale);
  EXPECT_EQ(chosen, o.langId);
  if (queries != nullptr) *queries = g_localeQueries;
  return {o.langId, o.langCode};
}

TEST(LanguageChoice, AKnownOptionWinsAndTheLocaleIsNotAskedFor) {
  int queries = -1;
  EXPECT_EQ(choose({"-Lde"}, "ru_RU.UTF-8", &queries), std::make_pair(kLangGerman, wstring(u"de")));
  EXPECT_EQ(queries, 0);
  EXPECT_EQ(choose({"-S", "/Lkk"}, "uk_UA.UTF-8", &queries),
            std::make_pair(kLangKazakh, wstring(u"kk")));
  EXPECT_EQ(queries, 0);
}

TEST(LanguageChoice, WithoutAKnownOptionTheLocaleDecidesElseEnglish) {
  int queries = -1;
  EXPECT_EQ(choose({}, "ru_RU.UTF-8", &queries), std::make_pair(kLangRussian, wstring(u"ru")));
  EXPECT_EQ(queries, 1);
  // An unknown code ends the scan but leaves the choice to the locale.
  EXPECT_EQ(choose({"-Lxx"}, "uk_UA.UTF-8", &queries),
            std::make_pair(kLangUkrainian, wstring(u"uk")));
  EXPECT_EQ(queries, 1);
  EXPECT_EQ(choose({"-Lxx"}, "C", &queries), std::make_pair(kLangEnglish, wstring(u"en")));
  EXPECT_EQ(queries, 1);
  EXPECT_EQ(choose({"-L"}, "vi", nullptr), std::make_pair(kLangVietnamese, wstring(u"vi")));
  // setlocale without an answer (a locale that is not installed).
  EXPECT_EQ(choose({}, nullptr, &queries), std::make_pair(kLangEnglish, wstring(u"en")));
  EXPECT_EQ(queries, 1);
  // A locale name with more than the code in front does not match.
  EXPECT_EQ(choose({}, "LC_CTYPE=ru_RU.UTF-8;LC_NUMERIC=C", nullptr),
            std::make_pair(kLangEnglish, wstring(u"en")));
}

}  // namespace
