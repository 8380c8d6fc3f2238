// The state of the string tables as a fresh process finds it: built before
// any static object of default priority, English current. This binary never
// calls set_resource_lang, so every test sees the initial language.
#include <gtest/gtest.h>

#include "res/string_table.h"
#include "tests/res/early_reader.h"

namespace {

TEST(ResStartupTest, EnglishIsCurrentBeforeAnyLanguageIsSet) {
  EXPECT_EQ(get_resource_lang(), kLangEnglish);
  EXPECT_EQ(LoadResString("IDS_WIZARD_NEXT"), u"Next >");
  EXPECT_EQ(LoadResString("IDR_MAINFRAME"), u"Installing configuration");
}

TEST(ResStartupTest, StaticObjectOfDefaultPriorityAlreadyReadsTexts) {
  // Only the start-up object can have built the registry by then: nothing in
  // this program calls build_string_tables.
  EXPECT_EQ(early_reader_language_count(), 12u);
  EXPECT_EQ(early_reader_lang(), kLangEnglish);
  EXPECT_EQ(early_reader_text(), u"Next >");
}

}  // namespace
