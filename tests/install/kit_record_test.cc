// The record of an installed kit: written and read back whole, and every
// hostile form refused before it can name a file outside the catalog or
// cost more than a kit's record could.
#include "install/kit_record.h"

#include <gtest/gtest.h>

#include <string>

namespace {

KitRecord sample() {
  KitRecord record;
  record.name = "Report\tTemplates";  // a tab survives, escaped
  record.products = {{u"en", u"Report\tTemplates", u"Labs", u"docs\\en.html"},
                     {u"ru", u"\u0428\u0430\u0431\u043B\u043E\u043D\u044B", u"", u""}};
  record.kitFile = "qxr8.xdk";
  record.kitHash.fill(0xAB);
  record.isSigned = true;
  record.keyId = 0x6A1D3B0C77E2F145;
  record.trustedComment = "by the author\\ 1.0";
  record.installedAt = 1765300000;
  record.files = {{"docs/en.html", 9, 133000000000000000u, {}},
                  {"a b/\xD1\x84\x0A.tpl", 0, 1, {}}};
  record.files[0].hash.fill(0x01);
  return record;
}

TEST(KitRecord, WhatIsWrittenIsReadBackWhole) {
  const KitRecord record = sample();
  const std::string text = format_kit_record(record);
  KitRecord read;
  ASSERT_TRUE(parse_kit_record(text, u"r", read).ok()) << text;
  EXPECT_EQ(format_kit_record(read), text);
  EXPECT_EQ(read.name, record.name);
  EXPECT_EQ(read.keyId, record.keyId);
  ASSERT_EQ(read.files.size(), 2u);
  EXPECT_EQ(read.files[1].name, record.files[1].name);
  EXPECT_EQ(kit_name_of(record.products), "Report\tTemplates");
  EXPECT_EQ(record_file_name("Report Templates/../x"), "Report%20Templates%2F..%2Fx.kit");
  // Long names are cut but stay apart.
  EXPECT_NE(record_file_name(std::string(300, 'a') + "1"), record_file_name(std::string(300, 'a')));
  EXPECT_LE(record_file_name(std::string(300, '%')).size(), 124u);
}

TEST(KitRecord, HostileRecordsAreRefusedWhole) {
  const std::string good = format_kit_record(sample());
  const auto with = [&good](const std::string& from, const std::string& to) {
    std::string text = good;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  const std::string file = "\tdocs/en.html\n";
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"another version", with("record 1", "record 2")},
      {"a name that leaves the catalog", with(file, "\t../../etc/passwd\n")},
      {"an absolute name", with(file, "\t/etc/passwd\n")},
      {"the catalog's own state", with(file, "\t.qxr8\\x5crun/journal\n")},
      {"an empty step", with(file, "\tdocs//en.html\n")},
      {"a bad hash", with("\t0101", "\tz101")},
      {"a count that does not match", with("end\t2", "end\t3")},
      {"a size past 64 bits", with("\t9\t", "\t99999999999999999999\t")},
      {"a bad escape", with("Report\\x09", "Report\\q09")},
      {"no end line", good.substr(0, good.find("end\t"))},
      {"a last line cut short", good.substr(0, good.size() - 1)},
      {"text after the end", good + "file\t1\t1\t" + std::string(64, '0') + "\tx\n"},
      {"larger than a record can be", good + std::string(kMaxRecordBytes, '#')},
  };
  for (const auto& c : cases) {
    KitRecord read = sample();
    const Status status = parse_kit_record(c.text, u"/c/.qxr8\\kits/a.kit", read);
    EXPECT_EQ(status.code, 13u) << c.what;
    EXPECT_EQ(status.path, u"/c/.qxr8\\kits/a.kit") << c.what;
    EXPECT_TRUE(read.files.empty() && read.name.empty()) << c.what;
  }
}

}  // namespace
