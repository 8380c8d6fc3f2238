// ConfigFile: matching, ordering and spelling rules of the in-memory form.
#include "config/config_file.h"

#include <gtest/gtest.h>

namespace {

using Values = std::vector<wstring>;

std::vector<wstring> keysOf(const ConfigFile& c) {
  std::vector<wstring> keys;
  for (const auto& e : c.entries()) keys.push_back(e.key);
  return keys;
}

TEST(CompareNocase, FoldsAsciiOnlyAndOrders) {
  EXPECT_EQ(0, compare_nocase(u"ConfigurationTemplatesLocation", u"CONFIGURATIONtemplateslocation"));
  EXPECT_LT(compare_nocase(u"abc", u"ABD"), 0);
  EXPECT_GT(compare_nocase(u"b", u"A"), 0);
  EXPECT_NE(0, compare_nocase(u"key", u" key"));
  // Cyrillic letters do not fold in a UTF-8 locale.
  EXPECT_NE(0, compare_nocase(u"\u0430", u"\u0410"));
  EXPECT_EQ(0, compare_nocase(u"\u0430x", u"\u0430X"));
  EXPECT_NE(0, compare_nocase(u"\ufeffFirst", u"First"));
}

TEST(CompareNocase, EscapedBytesCompareAsTheirBytes) {
  // Two undecodable bytes must not be taken for the same character.
  EXPECT_NE(0, compare_nocase(u"a\xDCFF", u"a\xDCFE"));
  EXPECT_EQ(0, compare_nocase(u"A\xDCFF", u"a\xDCFF"));
}

TEST(CompareNocase, ZeroBytesDoNotEndTheComparison) {
  // An escaped zero byte is part of the text, not its end.
  EXPECT_NE(0, compare_nocase(u"a\xDC00" u"b", u"a\xDC00" u"c"));
  EXPECT_EQ(0, compare_nocase(u"a\xDC00" u"b", u"A\xDC00" u"B"));
  EXPECT_LT(compare_nocase(u"a", u"a\xDC00"), 0);
  EXPECT_GT(compare_nocase(u"a\xDC00", u"a"), 0);
  EXPECT_LT(compare_nocase(u"a\xDC00" u"b", u"a\xDC00" u"C"), 0);
  EXPECT_GT(compare_nocase(u"a\xDC00" u"c", u"a\xDC00" u"B"), 0);
}

TEST(ConfigFileTest, AddValueMergesCaseVariantsKeepingFirstSpelling) {
  ConfigFile c;
  EXPECT_TRUE(c.addValue(u"K", u"1"));
  EXPECT_TRUE(c.addValue(u"other", u"x"));
  EXPECT_TRUE(c.addValue(u"k", u"2"));
  EXPECT_FALSE(c.addValue(u"K", u"1"));
  EXPECT_TRUE(c.addValue(u"K", u"abc"));
  EXPECT_FALSE(c.addValue(u"k", u"ABC"));
  EXPECT_EQ((std::vector<wstring>{u"K", u"other"}), keysOf(c));
  ASSERT_NE(nullptr, c.findValues(u"k"));
  EXPECT_EQ((Values{u"1", u"2", u"abc"}), *c.findValues(u"k"));
  EXPECT_EQ(nullptr, c.findValues(u"missing"));
  EXPECT_EQ(nullptr, c.findValues(u"K "));
}

TEST(ConfigFileTest, SetValueReplacesUnlessAlreadyTheOnlyValue) {
  ConfigFile c;
  EXPECT_TRUE(c.setValue(u"A", u"one"));
  EXPECT_FALSE(c.setValue(u"a", u"ONE"));
  EXPECT_EQ((Values{u"one"}), *c.findValues(u"A"));
  c.addValue(u"A", u"two");
  // Two values, one of them matching: the list still collapses.
  EXPECT_TRUE(c.setValue(u"A", u"one"));
  EXPECT_EQ((Values{u"one"}), *c.findValues(u"A"));
  EXPECT_TRUE(c.setValue(u"A", u"three"));
  EXPECT_EQ((Values{u"three"}), *c.findValues(u"A"));
  EXPECT_EQ(1u, c.entries().size());
}

TEST(ConfigFileTest, SetValuesKeepsPositionOrMovesEmptiedEntryToEnd) {
  ConfigFile c;
  c.addValue(u"First", u"1");
  c.addValue(u"List", u"a");
  c.addValue(u"Last", u"z");
  c.setValues(u"LIST", {u"b", u"c"});
  EXPECT_EQ((std::vector<wstring>{u"First", u"List", u"Last"}), keysOf(c));
  EXPECT_EQ((Values{u"b", u"c"}), *c.findValues(u"list"));

  c.setValues(u"LIST", {});
  EXPECT_EQ((std::vector<wstring>{u"First", u"Last", u"LIST"}), keysOf(c));
  ASSERT_NE(nullptr, c.findValues(u"List"));
  EXPECT_TRUE(c.findValues(u"List")->empty());

  c.setValues(u"New", {});
  ASSERT_NE(nullptr, c.findValues(u"new"));
  EXPECT_TRUE(c.findValues(u"new")->empty());
  // No de-duplication at this level.
  c.setValues(u"Dup", {u"x", u"X"});
  EXPECT_EQ((Values{u"x", u"X"}), *c.findValues(u"dup"));
}

TEST(ConfigFileTest, RemoveValueDropsEmptiedEntry) {
  ConfigFile c;
  c.addValue(u"K", u"1");
  c.addValue(u"K", u"2");
  c.addValue(u"J", u"x");
  EXPECT_FALSE(c.removeValue(u"K", u"3"));
  EXPECT_FALSE(c.removeValue(u"Q", u"1"));
  EXPECT_TRUE(c.removeValue(u"k", u"1"));
  EXPECT_EQ((Values{u"2"}), *c.findValues(u"K"));
  EXPECT_TRUE(c.removeValue(u"K", u"2"));
  EXPECT_EQ(nullptr, c.findValues(u"K"));
  EXPECT_EQ((std::vector<wstring>{u"J"}), keysOf(c));
}

}  // namespace
