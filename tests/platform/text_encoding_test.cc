// Conversions between 16-bit text and the locale's multibyte text, in the
// UTF-8 locale that CTest selects (LC_ALL=C.UTF-8) unless a test selects
// the C locale or a single-byte one itself.
#include "platform/text_encoding.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/system_path.h"
#include "platform/utf8.h"
#include "tests/support/private_env.h"
#include "tests/support/test_locale.h"

namespace {

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

TEST(TextEncoding, CyrillicSlashAndLatinNarrowToUtf8AndBack) {
  const wstring text = {0x0416, 0x002F, 0x0078};
  EXPECT_EQ(narrow_lib(text), bytes({0xD0, 0x96, 0x2F, 0x78}));
  EXPECT_EQ(widen_lib(bytes({0xD0, 0x96, 0x2F, 0x78})), text);
}

TEST(TextEncoding, CharacterBeyond16BitsIsASurrogatePairBothWays) {
  // U+1F600 is the pair D83D DE00, not U+F600 (which would make "smile😀"
  // and "smile" + U+F600 one name).
  const std::string face = bytes({0xF0, 0x9F, 0x98, 0x80});
  EXPECT_EQ(widen_lib(face), (wstring{0xD83D, 0xDE00}));
  EXPECT_EQ(narrow_lib(wstring{0xD83D, 0xDE00}), face);
  char16_t out[3] = {0x1111, 0x2222, 0x3333};
  EXPECT_EQ(MultiByteToWideChar(0, 0, "\xF0\x9F\x98\x80" "a", 5, out, 3), 3);
  EXPECT_EQ(out[0], 0xD83D);
  EXPECT_EQ(out[1], 0xDE00);
  EXPECT_EQ(out[2], u'a');
}

// The C locale's ASCII names no file a desktop user makes: its conversions
// are UTF-8, so a Cyrillic or astral name reaches the system as itself.
TEST(TextEncoding, TheCLocaleConvertsAsUtf8) {
  (void)narrow_lib(u"");  // the first conversion selects the environment's locale
  test_support::ScopedLocale c("C");
  ASSERT_TRUE(c.ok());
  const wstring name = u"\u043a\u0430\u0442/smile\U0001F600";
  const std::string utf8 = "\xD0\xBA\xD0\xB0\xD1\x82/smile\xF0\x9F\x98\x80";
  std::string system;
  ASSERT_TRUE(to_system_path(name, system));
  EXPECT_EQ(system, utf8);
  EXPECT_EQ(from_system_path(utf8), name);
  EXPECT_EQ(narrow_lib(name), utf8);
}

// In a locale whose encoding is not UTF-8, names are in that encoding; a
// character it lacks is refused for a path and shown as "?" on a terminal
// only; texts for GTK are UTF-8 all the same.
TEST(TextEncoding, ASingleByteLocaleKeepsItsEncodingAndRefusesWhatItLacks) {
  (void)narrow_lib(u"");
  const std::string dir = test_support::single_byte_locale_dir();
  if (dir.empty()) GTEST_SKIP() << "localedef cannot build " << test_support::kSingleByteLocale;
  test_support::EnvironmentGuard env;
  env.set("LOCPATH", dir);
  test_support::ScopedLocale locale(test_support::kSingleByteLocale);
  ASSERT_TRUE(locale.ok()) << test_support::kSingleByteLocale;
  ASSERT_FALSE(conversion_is_utf8());

  std::string system;
  ASSERT_TRUE(to_system_path(u"\u0416.txt", system));
  EXPECT_EQ(system, bytes({0xB6, '.', 't', 'x', 't'}));
  EXPECT_EQ(from_system_path(system), u"\u0416.txt");

  EXPECT_FALSE(to_system_path(u"caf\u00e9", system));
  EXPECT_FALSE(to_system_path(u"smile\U0001F600", system));
  EXPECT_EQ(to_terminal_text(u"caf\u00e9"), "caf?");
  EXPECT_EQ(to_ui_text(u"\u0416caf\u00e9"), "\xD0\x96" "caf\xC3\xA9");
}

// Every path that has no exact name is refused: the system never sees a
// look-alike of it.
TEST(TextEncoding, PathsWithoutAnExactNameAreRefused) {
  std::string system;
  EXPECT_FALSE(to_system_path(wstring{u'x', 0xD800}, system));  // lone high surrogate
  EXPECT_FALSE(to_system_path(wstring{u'x', 0xDFFF}, system));  // lone low surrogate
  EXPECT_FALSE(to_system_path(wstring{u'x', 0xDC41}, system));  // would be "xA"
  EXPECT_FALSE(to_system_path(wstring{u'x', 0xDCC3, 0xDCA9}, system));  // would read as "xé"
  EXPECT_FALSE(to_system_path(wstring{u'x', 0, u'y'}, system));  // would act on "x"
  // An escaped byte standing alone is the byte itself.
  ASSERT_TRUE(to_system_path(wstring{u'x', 0xDCE9}, system));
  EXPECT_EQ(system, "x\xE9");
}

TEST(TextEncoding, EveryNonSurrogateUnitSurvivesARoundTrip) {
  wstring all;
  for (unsigned unit = 1; unit <= 0xFFFF; ++unit) {
    if (unit >= 0xD800 && unit <= 0xDFFF) continue;
    all.push_back(static_cast<char16_t>(unit));
  }
  std::string narrow = narrow_lib(all);
  EXPECT_LE(narrow.size(), 3 * all.size());
  EXPECT_EQ(widen_lib(narrow), all);
}

TEST(TextEncoding, LoneSurrogateMeasuresMinusOneAndNarrowsToQuestionMark) {
  const char16_t text[] = {u'a', 0xD800, u'b', 0xDFFF, u'c', 0};
  char out[16];
  std::memset(out, 'Z', sizeof out);
  EXPECT_EQ(WideCharToMultiByte(0, 0, text, 5, out, 8, nullptr, nullptr), -1);
  // What precedes the bad unit is converted; the rest of the zero-filled
  // destination stays zero and nothing past its size is touched.
  EXPECT_EQ(out[0], 'a');
  EXPECT_EQ(out[1], '\0');
  EXPECT_EQ(out[7], '\0');
  EXPECT_EQ(out[8], 'Z');

  EXPECT_EQ(narrow_lib(wstring(text, 5)), "a?b?c");
  EXPECT_EQ(narrow_lib(wstring(1, static_cast<char16_t>(0xDC00))), "?");
}

TEST(TextEncoding, MeasureIsTheWholeLengthEvenWhenTheDestinationIsSmall) {
  const char16_t text[] = {0x0416, 0x0416, 0x0416, 0};
  char out[5];
  std::memset(out, 'Z', sizeof out);
  EXPECT_EQ(WideCharToMultiByte(0, 0, text, 3, out, 3, nullptr, nullptr), 6);
  // Only whole characters fit: one Zhe, then the zero fill; out[3] untouched.
  EXPECT_EQ(std::string(out, 3), bytes({0xD0, 0x96, 0x00}));
  EXPECT_EQ(out[3], 'Z');
}

TEST(TextEncoding, SourceLengthAndZeroUnitBothEndTheText) {
  const char16_t text[] = {u'a', u'b', 0, u'c', 0};
  char out[8] = {};
  EXPECT_EQ(WideCharToMultiByte(0, 0, text, 1, out, 8, nullptr, nullptr), 1);
  EXPECT_STREQ(out, "a");
  EXPECT_EQ(WideCharToMultiByte(0, 0, text, 4, out, 8, nullptr, nullptr), 2);
  EXPECT_STREQ(out, "ab");
  EXPECT_EQ(narrow_lib(wstring(text, 4)), "ab");
  EXPECT_EQ(widen_lib(std::string("ab\0c", 4)), u"ab");
}

TEST(TextEncoding, EmptyTextConvertsToEmptyText) {
  EXPECT_EQ(narrow_lib(wstring()), "");
  EXPECT_EQ(widen_lib(std::string()), u"");
  char out[2] = {'Z', 'Z'};
  // A measure of 0 leaves the destination as it was.
  EXPECT_EQ(WideCharToMultiByte(0, 0, u"", 0, out, 2, nullptr, nullptr), 0);
  EXPECT_EQ(out[0], 'Z');
}

TEST(TextEncoding, MultiByteMeasureIgnoresTheLengthAndDoesNotTerminate) {
  char16_t out[4] = {0x1111, 0x1111, 0x1111, 0x1111};
  // The length argument says 1, yet the whole text up to its 0 is measured.
  EXPECT_EQ(MultiByteToWideChar(0, 0, "abc", 1, out, 2), 3);
  EXPECT_EQ(out[0], u'a');
  EXPECT_EQ(out[1], u'b');
  EXPECT_EQ(out[2], 0x1111);
}

TEST(TextEncoding, InvalidBytesMeasureMinusOneAndStoreNothing) {
  char16_t out[4] = {0x1111, 0x1111, 0x1111, 0x1111};
  EXPECT_EQ(MultiByteToWideChar(0, 0, "a\xFF" "b", 3, out, 4), -1);
  EXPECT_EQ(out[0], 0x1111);
}

TEST(TextEncoding, WidenKeepsEachBadByteAndNarrowGivesItBack) {
  // A Latin-1 file name found on disk: the stray byte is carried, not lost.
  const std::string names[] = {
      "caf\xE9.txt",
      "a\xE2\x82" "b",          // a sequence cut short by an ASCII byte
      "x\xE2\x82",              // a truncated sequence at the very end
      "\xC0\xAF",               // an overlong "/" is not a slash
      "\xED\xB3\xA9",           // an encoded surrogate is not U+DCE9
      "\xD0\x96\xFF\xD0\x96"};  // valid text around the damage
  for (const std::string& name : names) {
    const wstring wide = widen_lib(name);
    EXPECT_EQ(narrow_lib(wide), name);
    std::string system;
    EXPECT_TRUE(to_system_path(wide, system));
    EXPECT_EQ(system, name);
  }
  EXPECT_EQ(widen_lib("caf\xE9.txt"), (wstring{u'c', u'a', u'f', 0xDCE9, u'.', u't', u'x', u't'}));
  EXPECT_EQ(widen_lib("\xD0\x96\xFF\xD0\x96"), (wstring{0x0416, 0xDCFF, 0x0416}));
  // Shown to a person, the carried byte is the replacement character.
  EXPECT_EQ(to_ui_text(widen_lib("caf\xE9")), "caf\xEF\xBF\xBD");
}

}  // namespace
