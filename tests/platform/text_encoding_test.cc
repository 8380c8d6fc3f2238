// Conversions between 16-bit text and the locale's multibyte text, in the
// UTF-8 locale that CTest selects (LC_ALL=C.UTF-8).
#include "platform/text_encoding.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

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

TEST(TextEncoding, FourByteSequenceKeepsOnlyTheLow16Bits) {
  // U+1F600 is one character; it becomes one unit, truncated to F600.
  wstring wide = widen_lib(bytes({0xF0, 0x9F, 0x98, 0x80}));
  ASSERT_EQ(wide.size(), 1u);
  EXPECT_EQ(wide[0], 0xF600);
  char16_t out[2] = {0x1111, 0x2222};
  EXPECT_EQ(MultiByteToWideChar(0, 0, "\xF0\x9F\x98\x80" "a", 5, out, 2), 2);
  EXPECT_EQ(out[0], 0xF600);
  EXPECT_EQ(out[1], u'a');
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

TEST(TextEncoding, WidenReplacesEachBadByteAndKeepsTheRest) {
  // A Latin-1 file name found on disk: the stray byte becomes "?".
  EXPECT_EQ(widen_lib("caf\xE9.txt"), u"caf?.txt");
  // A sequence cut short by an ASCII byte: each bad byte on its own.
  EXPECT_EQ(widen_lib("a\xE2\x82" "b"), u"a??b");
  // A truncated sequence at the very end.
  EXPECT_EQ(widen_lib("x\xE2\x82"), u"x??");
  // An overlong encoding of "/" is not a slash.
  EXPECT_EQ(widen_lib("\xC0\xAF"), u"??");
  // Valid text around the damage is decoded normally.
  EXPECT_EQ(widen_lib("\xD0\x96\xFF\xD0\x96"), (wstring{0x0416, u'?', 0x0416}));
}

}  // namespace
