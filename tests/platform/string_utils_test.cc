#include "platform/string_utils.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(StringToUl, ReadsLeadingDigitsOnly) {
  EXPECT_EQ(string_toul(u"123abc"), 123ul);
  EXPECT_EQ(string_toul(u"-5"), 0ul);
  EXPECT_EQ(string_toul(u" 7"), 0ul);
  EXPECT_EQ(string_toul(u""), 0ul);
  EXPECT_EQ(string_toul(u"0042"), 42ul);
  EXPECT_EQ(string_toul(u"4294967296"), 4294967296ul);
}

TEST(StringToUl, WrapsOnOverflow) {
  // 2^64 + 5 wraps to 5.
  EXPECT_EQ(string_toul(u"18446744073709551621"), 5ul);
  EXPECT_EQ(string_toul(u"18446744073709551615"), ULONG_MAX);
}

TEST(StringIto, DecimalIsSigned) {
  EXPECT_EQ(string_ito(0, 10), u"0");
  EXPECT_EQ(string_ito(-45, 10), u"-45");
  EXPECT_EQ(string_ito(INT_MIN, 10), u"-2147483648");
  EXPECT_EQ(string_ito(INT_MAX, 10), u"2147483647");
  EXPECT_EQ(string_uito(4294967295u, 10), u"-1");
  EXPECT_EQ(string_uito(2147483648u, 10), u"-2147483648");
  EXPECT_EQ(string_uito(17, 10), u"17");
}

TEST(StringIto, OtherRadixesAreUnsignedLowercase) {
  EXPECT_EQ(string_ito(255, 16), u"ff");
  EXPECT_EQ(string_ito(-1, 16), u"ffffffff");
  EXPECT_EQ(string_ito(5, 2), u"101");
  EXPECT_EQ(string_ito(35, 36), u"z");
  EXPECT_EQ(string_uito(4294967295u, 36), u"1z141z3");
  EXPECT_EQ(string_ito(0, 2), u"0");
}

TEST(StringIto, RadixOutOfRangeGivesEmptyText) {
  EXPECT_EQ(string_ito(5, 1), u"");
  EXPECT_EQ(string_ito(5, 37), u"");
  EXPECT_EQ(string_uito(5, 0), u"");
}

TEST(ReplaceAll, SameLengthReplacesInPlace) {
  wstring path = u"a\\b\\c\\d";
  EXPECT_EQ(replace_all(path, u"\\", u"/"), 3);
  EXPECT_EQ(path, u"a/b/c/d");
  EXPECT_EQ(path.find(u'\\'), wstring::npos);
}

TEST(ReplaceAll, FromEqualToCountsAndKeepsText) {
  wstring text = u"abcabcab";
  EXPECT_EQ(replace_all(text, u"ab", u"ab"), 3);
  EXPECT_EQ(text, u"abcabcab");
}

TEST(ReplaceAll, MatchesAreNonOverlappingLeftToRight) {
  wstring text = u"aaa";
  EXPECT_EQ(replace_all(text, u"aa", u"b"), 1);
  EXPECT_EQ(text, u"ba");
  text = u"aaaa";
  EXPECT_EQ(replace_all(text, u"aa", u"aa"), 2);
}

TEST(ReplaceAll, ReplacementsAreNotSearchedAgain) {
  wstring text = u"a-a";
  EXPECT_EQ(replace_all(text, u"a", u"aa"), 2);
  EXPECT_EQ(text, u"aa-aa");
  text = u"xaay";
  EXPECT_EQ(replace_all(text, u"a", u""), 2);
  EXPECT_EQ(text, u"xy");
  // Same length: a replacement that forms a new match with what follows
  // is not rescanned either.
  text = u"aab";
  EXPECT_EQ(replace_all(text, u"ab", u"aa"), 1);
  EXPECT_EQ(text, u"aaa");
}

TEST(ReplaceAll, EmptyFromOrTextChangesNothing) {
  wstring text = u"abc";
  EXPECT_EQ(replace_all(text, u"", u"x"), 0);
  EXPECT_EQ(text, u"abc");
  wstring empty;
  EXPECT_EQ(replace_all(empty, u"a", u"b"), 0);
  EXPECT_EQ(empty, u"");
  EXPECT_EQ(replace_all(text, u"zz", u"y"), 0);
  EXPECT_EQ(text, u"abc");
}

}  // namespace
