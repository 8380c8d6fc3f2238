// Lookups, registry and table contents of the string tables, read through the
// public interface the way the wizard reads them.
#include "res/string_table.h"

#include <gtest/gtest.h>

#include <iostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/text_encoding.h"
#include "res/lang_tables.h"
#include "tests/support/private_env.h"
#include "tests/support/test_locale.h"

namespace {

// Restores English after each test so that the order of tests is free.
class StringTableTest : public ::testing::Test {
 protected:
  void TearDown() override { set_resource_lang(kLangEnglish); }
};

const char* const kCodes[] = {"ru", "uk", "en", "lv", "lt", "bg",
                              "de", "ro", "ka", "kk", "vi", "tr"};

// Identifiers in table order, as the English table defines them.
std::vector<std::string> english_identifiers() {
  std::vector<std::string> ids;
  for (std::size_t i = 0; i < kResStringCount; ++i) ids.push_back(kStringsEn[i].id);
  return ids;
}

// True when `text` is well-formed UTF-8 without overlong forms or surrogates.
bool is_utf8(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    std::size_t extra;
    unsigned long cp;
    if (lead < 0x80) { ++i; continue; }
    if ((lead & 0xE0) == 0xC0) { extra = 1; cp = lead & 0x1F; }
    else if ((lead & 0xF0) == 0xE0) { extra = 2; cp = lead & 0x0F; }
    else if ((lead & 0xF8) == 0xF0) { extra = 3; cp = lead & 0x07; }
    else return false;
    if (i + extra >= text.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const unsigned char c = static_cast<unsigned char>(text[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    static const unsigned long kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

TEST_F(StringTableTest, RegistryHoldsTwelveLanguagesAscendingWithTheirCodes) {
  const LangRegistry& registry = get_lang_registry();
  ASSERT_EQ(registry.size(), 12u);
  LangIdType expected = 1;
  for (const auto& entry : registry) {
    EXPECT_EQ(entry.first, expected);
    EXPECT_EQ(entry.second.code, kCodes[expected - 1]);
    ++expected;
  }
  EXPECT_EQ(registry.count(kLangNone), 0u);
  EXPECT_EQ(registry.count(13), 0u);
}

TEST_F(StringTableTest, EveryLanguageHasTheEnglishIdentifiersInTableOrder) {
  const std::vector<std::string> english = english_identifiers();
  // The 31 of the original tables, then the wizard's added texts.
  ASSERT_EQ(std::set<std::string>(english.begin(), english.end()).size(), 45u);
  EXPECT_EQ(english.front(), "IDS_WIZARD_BACK");
  EXPECT_EQ(english[13], "IDR_MAINFRAME");
  EXPECT_EQ(english[30], "IDS_TEMPLATE_CATALOG");
  EXPECT_EQ(english[32], "IDS_OPENDESCR_FAILED");
  EXPECT_EQ(english.back(), "IDS_SIGNER_NOW");
  for (const LangTable& table : kLangTables) {
    SCOPED_TRACE(table.code);
    for (std::size_t i = 0; i < kResStringCount; ++i) {
      ASSERT_NE(table.entries[i].id, nullptr);
      ASSERT_NE(table.entries[i].text, nullptr);
      EXPECT_EQ(english[i], table.entries[i].id) << "row " << i + 1;
    }
    // The built map holds the same 45 identifiers, each once.
    const LangInfo& info = get_lang_registry().at(table.id);
    EXPECT_EQ(info.code, table.code);
    ASSERT_EQ(info.texts.size(), 45u);
    for (const std::string& id : english) EXPECT_EQ(info.texts.count(id), 1u) << id;
  }
}

TEST_F(StringTableTest, TextsAreNonEmptyUtf8WithoutLineEndsOrStrayBlanks) {
  for (const auto& entry : get_lang_registry()) {
    for (const auto& text : entry.second.texts) {
      SCOPED_TRACE(entry.second.code + " " + text.first);
      const std::string& s = text.second;
      ASSERT_FALSE(s.empty());
      EXPECT_TRUE(is_utf8(s));
      EXPECT_EQ(s.find_first_of("\r\n\t"), std::string::npos);
      EXPECT_NE(s.back(), ' ');
      const bool kazakh_kit_message =
          entry.first == kLangKazakh &&
          (text.first == "IDS_ERROR_NOSOURCE" || text.first == "IDS_ERROR_DAMAGEDSOURCE");
      EXPECT_EQ(s.front() == ' ', kazakh_kit_message);
    }
  }
}

TEST_F(StringTableTest, AliasedIdentifiersShareTheirTextInEveryLanguage) {
  for (LangIdType lang = 1; lang <= 12; ++lang) {
    set_resource_lang(lang);
    SCOPED_TRACE(lang);
    EXPECT_FALSE(LoadResString("IDR_MAINFRAME").empty());
    EXPECT_EQ(LoadResString("IDR_MAINFRAME"), LoadResString("IDS_TITLE_INSTALLER"));
    EXPECT_FALSE(LoadResString("IDS_BROWSE_CANCEL").empty());
    EXPECT_EQ(LoadResString("IDS_BROWSE_CANCEL"), LoadResString("IDS_WIZARD_CANCEL"));
  }
}

TEST_F(StringTableTest, KitMessagesNameTheKitFileInEveryLanguage) {
  for (LangIdType lang = 1; lang <= 12; ++lang) {
    set_resource_lang(lang);
    SCOPED_TRACE(lang);
    EXPECT_NE(LoadResString("IDS_ERROR_NOSOURCE").find(u"qxr8.xdk"), wstring::npos);
    EXPECT_NE(LoadResString("IDS_ERROR_DAMAGEDSOURCE").find(u"qxr8.xdk"), wstring::npos);
  }
}

TEST_F(StringTableTest, CodeLookupIsExactAndCaseSensitive) {
  EXPECT_EQ(get_lang_id_by_lang_code("en"), 3);
  EXPECT_EQ(get_lang_id_by_lang_code("kk"), 10);
  for (LangIdType lang = 1; lang <= 12; ++lang) {
    EXPECT_EQ(get_lang_id_by_lang_code(kCodes[lang - 1]), lang);
    EXPECT_EQ(get_lang_code_by_id(lang), kCodes[lang - 1]);
  }
  for (const std::string code : {"EN", "En", "ru_RU", "", "xx", "e", "en ", " en", "eng", "C"}) {
    EXPECT_EQ(get_lang_id_by_lang_code(code), kLangNone) << "'" << code << "'";
  }
  // An embedded NUL makes a different, longer code.
  EXPECT_EQ(get_lang_id_by_lang_code(std::string("en\0", 3)), kLangNone);
  EXPECT_EQ(get_lang_code_by_id(kLangNone), "");
  EXPECT_EQ(get_lang_code_by_id(13), "");
  EXPECT_EQ(get_lang_code_by_id(-1), "");
}

TEST_F(StringTableTest, LanguageWithoutTableGivesEmptyTexts) {
  for (LangIdType lang : {0, 13, -1, 1000}) {
    set_resource_lang(lang);
    // Stored as given, not replaced by a fall-back.
    EXPECT_EQ(get_resource_lang(), lang);
    for (const std::string& id : english_identifiers()) {
      EXPECT_EQ(LoadResString(id), u"") << lang << " " << id;
    }
  }
  set_resource_lang(kLangEnglish);
  EXPECT_EQ(LoadResString("IDS_WIZARD_NEXT"), u"Next >");
}

TEST_F(StringTableTest, UnknownOrMiscasedIdentifierGivesEmptyText) {
  for (LangIdType lang : {kLangEnglish, kLangRussian, kLangGeorgian}) {
    set_resource_lang(lang);
    for (const std::string id : {"ids_wizard_next", "IDS_Wizard_Next", "IDS_WIZARD_NEXT ",
                                 " IDS_WIZARD_NEXT", "IDS_WIZARD", "IDS_NOT_THERE", ""}) {
      EXPECT_EQ(LoadResString(id), u"") << lang << " '" << id << "'";
    }
    EXPECT_EQ(LoadResString(std::string("IDS_WIZARD_NEXT\0", 16)), u"");
    EXPECT_FALSE(LoadResString("IDS_WIZARD_NEXT").empty());
  }
}

TEST_F(StringTableTest, RussianKitMessageArrivesAsUtf16) {
  set_resource_lang(kLangRussian);
  const wstring text = LoadResString("IDS_ERROR_NOSOURCE");
  EXPECT_EQ(text, u"Файл комплекта установки qxr8.xdk не найден.");
  // One 16-bit unit per character: "Ф" is U+0424.
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text[0], u'\u0424');
  EXPECT_EQ(text.size(), 44u);
}

struct Sample {
  const char* code;
  const char* id;
  const char16_t* text;
};

// Copied mechanically from the translation tables, not from res/.
const Sample kSamples[] = {
    {"en", "IDS_WIZARD_NEXT", u"Next >"},
    {"en", "IDS_ERROR_NOSOURCE", u"Distribution kit file qxr8.xdk not found."},
    {"en", "IDS_DEFPROVIDER", u"<Vendor>"},
    {"en", "IDS_TEMPLATE_CATALOG", u"Template directory:"},
    {"en", "IDS_CHOOSEDIR_FOLDER", u"&Folder:"},
    {"ru", "IDS_WIZARD_NEXT", u"Далее >"},
    {"ru", "IDS_ERROR_NOSOURCE", u"Файл комплекта установки qxr8.xdk не найден."},
    {"ru", "IDS_DEFPROVIDER", u"<Поставщик>"},
    {"ru", "IDS_TEMPLATE_CATALOG", u"Каталог шаблонов:"},
    {"ru", "IDS_WIZARD_BACK", u"< Назад"},
    {"uk", "IDS_WIZARD_NEXT", u"Наступна >"},
    {"uk", "IDS_ERROR_NOSOURCE", u"Файл комплекту поставки qxr8.xdk не знайдений."},
    {"uk", "IDS_DEFPROVIDER", u"<Постачальник>"},
    {"uk", "IDS_TEMPLATE_CATALOG", u"Каталог шаблонів:"},
    {"lv", "IDS_WIZARD_NEXT", u"Tālāk >"},
    {"lv", "IDS_ERROR_NOSOURCE", u"Nav atrasts instalēšanas komplekta fails qxr8.xdk."},
    {"lv", "IDS_DEFPROVIDER", u"<Piegādātājs>"},
    {"lv", "IDS_TEMPLATE_CATALOG", u"Šablonu katalogs:"},
    {"lv", "IDS_BROWSE_SELDIR", u"Izvēlētais katalogs"},
    {"lt", "IDS_WIZARD_NEXT", u"Toliau >"},
    {"lt", "IDS_ERROR_NOSOURCE", u"Nerastas diegimo komplekto failas qxr8.xdk."},
    {"lt", "IDS_DEFPROVIDER", u"<Tiekėjas>"},
    {"lt", "IDS_TEMPLATE_CATALOG", u"Šablonų katalogas:"},
    {"bg", "IDS_WIZARD_NEXT", u"Напред >"},
    {"bg", "IDS_ERROR_NOSOURCE", u"Файлът за инсталация qxr8.xdk не е открит."},
    {"bg", "IDS_DEFPROVIDER", u"<Доставчик>"},
    {"bg", "IDS_TEMPLATE_CATALOG", u"Каталог със шаблони:"},
    {"de", "IDS_WIZARD_NEXT", u"Weiter >"},
    {"de", "IDS_ERROR_NOSOURCE", u"Installationsdatei qxr8.xdk wurde nicht gefunden."},
    {"de", "IDS_DEFPROVIDER", u"<Lieferant>"},
    {"de", "IDS_TEMPLATE_CATALOG", u"Vorlagenverzeichnis:"},
    {"ro", "IDS_WIZARD_NEXT", u"Înainte >"},
    {"ro", "IDS_ERROR_NOSOURCE", u"Fişierul kit-ului de instalare qxr8.xdk nu a fost găsit."},
    {"ro", "IDS_DEFPROVIDER", u"<Furnizor>"},
    {"ro", "IDS_TEMPLATE_CATALOG", u"Catalogul şabloanelor:"},
    {"ka", "IDS_WIZARD_NEXT", u"შემდეგ>"},
    {"ka", "IDS_ERROR_NOSOURCE", u"მიწოდების კომპლექტის ფაილი qxr8.xdk არ არის ნაპოვნი."},
    {"ka", "IDS_DEFPROVIDER", u"<მომწოდებელი>"},
    {"ka", "IDS_TEMPLATE_CATALOG", u"შაბლონების კატალოგი:"},
    {"ka", "IDS_DESTINATION_PROMPT", u"მიუთითეთ გზა შაბლონების კატალოგისკენ. დაყენების პროგრამა დააყენებს კონფიგურაციის შაბლონებსა და ფაილებს  მითითებულ კატალოგში."},
    {"kk", "IDS_WIZARD_NEXT", u"Әрі қарай >"},
    {"kk", "IDS_ERROR_NOSOURCE", u" qxr8.xdk орнату файлы жинағы табылған жоқ."},
    {"kk", "IDS_ERROR_DAMAGEDSOURCE", u" qxr8.xdk орнату файлы бүлінген немесе орнатудың осы программасы арналмаған."},
    {"kk", "IDS_DEFPROVIDER", u"<Жабдықтаушы>"},
    {"kk", "IDS_TEMPLATE_CATALOG", u"Үлгілер каталогы:"},
    {"vi", "IDS_WIZARD_NEXT", u"Tiếp theo >"},
    {"vi", "IDS_ERROR_NOSOURCE", u"Không tìm thấy tệp của bộ cài đặt qxr8.xdk."},
    {"vi", "IDS_DEFPROVIDER", u"<Nhà cung cấp>"},
    {"vi", "IDS_TEMPLATE_CATALOG", u"Thư mục các khuôn mẫu:"},
    {"tr", "IDS_WIZARD_NEXT", u"İleri >"},
    {"tr", "IDS_ERROR_NOSOURCE", u"qxr8.xdk yükleme takımının dosyası bulunmadı."},
    {"tr", "IDS_DEFPROVIDER", u"<Tedarikçi>"},
    {"tr", "IDS_TEMPLATE_CATALOG", u"Şablon klasörü:"},
};

// The tables are UTF-8 whatever the locale: also under the C locale and a
// single-byte one, where decoding them by the locale garbled all but the
// ASCII texts.
TEST_F(StringTableTest, SampleTextsOfEveryLanguageMatchAsUtf16InEveryLocale) {
  (void)narrow_lib(u"");  // the first conversion selects the environment's locale
  const std::string singleByteDir = test_support::single_byte_locale_dir();
  test_support::EnvironmentGuard env;
  if (!singleByteDir.empty()) env.set("LOCPATH", singleByteDir);
  for (const char* locale : {"C.UTF-8", "C", test_support::kSingleByteLocale}) {
    test_support::ScopedLocale scope(locale);
    if (!scope.ok()) {
      ASSERT_STREQ(locale, test_support::kSingleByteLocale);
      std::cout << "[  SKIPPED ] localedef cannot build " << locale << "\n";
      continue;
    }
    std::set<std::string> covered;
    for (const Sample& sample : kSamples) {
      const LangIdType lang = get_lang_id_by_lang_code(sample.code);
      ASSERT_NE(lang, kLangNone) << sample.code;
      set_resource_lang(lang);
      EXPECT_EQ(LoadResString(sample.id), wstring(sample.text))
          << locale << " " << sample.code << " " << sample.id;
      covered.insert(sample.code);
    }
    EXPECT_EQ(covered.size(), 12u);
  }
}

TEST_F(StringTableTest, GeorgianNextHasNoBlankBeforeTheArrow) {
  set_resource_lang(kLangGeorgian);
  const wstring next = LoadResString("IDS_WIZARD_NEXT");
  ASSERT_GE(next.size(), 2u);
  EXPECT_EQ(next.back(), u'>');
  EXPECT_NE(next[next.size() - 2], u' ');
  // Every other language separates the arrow by a blank.
  for (LangIdType lang = 1; lang <= 12; ++lang) {
    if (lang == kLangGeorgian) continue;
    set_resource_lang(lang);
    const wstring other = LoadResString("IDS_WIZARD_NEXT");
    ASSERT_GE(other.size(), 2u);
    EXPECT_EQ(other.substr(other.size() - 2), u" >") << lang;
  }
}

TEST_F(StringTableTest, SecondBuildChangesNothing) {
  const LangRegistry before = get_lang_registry();
  build_string_tables();
  const LangRegistry& after = get_lang_registry();
  ASSERT_EQ(after.size(), before.size());
  for (const auto& entry : before) {
    EXPECT_EQ(after.at(entry.first).code, entry.second.code);
    EXPECT_EQ(after.at(entry.first).texts, entry.second.texts);
  }
}

// The GUI thread and the install worker read texts at the same time.
TEST_F(StringTableTest, ConcurrentReadersSeeTheSameTexts) {
  set_resource_lang(kLangRussian);
  const std::vector<std::string> ids = english_identifiers();
  std::vector<wstring> expected;
  for (const std::string& id : ids) expected.push_back(LoadResString(id));
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&, t] {
      for (int round = 0; round < 200; ++round) {
        for (std::size_t i = 0; i < ids.size(); ++i) {
          if (LoadResString(ids[i]) != expected[i]) ++mismatches[t];
        }
      }
    });
  }
  for (std::thread& reader : readers) reader.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(mismatches[t], 0) << "reader " << t;
  EXPECT_EQ(expected[1], u"Далее >");
}

}  // namespace
