// Opening kits with the reader the wizard uses: well-formed kits of every
// header form, and damaged ones, which must fail without a trace.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "install/install_data.h"
#include "install/kit_format.h"
#include "install/kit_writer.h"
#include "platform/file_system.h"
#include "platform/text_encoding.h"
#include "tests/support/child_process.h"
#include "tests/support/file_io.h"
#include "tests/support/kit_builder.h"
#include "tests/support/sandbox.h"

namespace {

using config::KitEntry;
using config::KitProductInfo;
using test_support::file_time;
using test_support::read_file;
using test_support::write_file;

class KitOpen : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sandbox.ok());
    fdsBefore = test_support::open_fd_count();
  }

  // Compresses `unpacked` into work/kit.xdk and opens it.
  unsigned openUnpacked(const std::string& unpacked) {
    write_file(sandbox.work("kit.xdk"), config::deflate_raw(unpacked));
    return reader.open(sandbox.wwork("kit.xdk"));
  }

  // What a failed open must leave: no entries, no handle, no file, no fd.
  void expectCleanFailure(unsigned code, const std::string& what) {
    EXPECT_NE(code, 0u) << what;
    EXPECT_TRUE(reader.entries.empty()) << what;
    EXPECT_FALSE(reader.isOpen()) << what;
    EXPECT_TRUE(sandbox.tmpEntries().empty()) << what;
    EXPECT_EQ(test_support::open_fd_count(), fdsBefore) << what;
  }

  test_support::Sandbox sandbox;
  KitReader reader;
  int fdsBefore = 0;
};

TEST_F(KitOpen, WorkedExampleOf53Bytes) {
  const std::string kit = test_support::worked_example_kit();
  ASSERT_EQ(kit.size(), 53u);
  ASSERT_EQ(openUnpacked(kit), 0u);
  ASSERT_EQ(reader.productInfo.size(), 1u);
  EXPECT_EQ(reader.productInfo[0].language, u"en");
  EXPECT_EQ(reader.productInfo[0].product, u"A");
  EXPECT_EQ(reader.productInfo[0].vendor, u"B");
  EXPECT_EQ(reader.productInfo[0].description, u"");
  ASSERT_EQ(reader.entries.size(), 1u);
  EXPECT_EQ(reader.entries[0].name, u"x");
  EXPECT_EQ(reader.entries[0].offset, 50u);
  EXPECT_EQ(reader.entries[0].size, 3u);
  EXPECT_TRUE(reader.isOpen());
  ASSERT_EQ(reader.copy(0, sandbox.wwork("x")), 0u);
  EXPECT_EQ(read_file(sandbox.work("x")), "abc");
}

TEST_F(KitOpen, UnpackedKitLeavesNoFileBehindButKeepsItsData) {
  ASSERT_EQ(openUnpacked(test_support::worked_example_kit()), 0u);
  EXPECT_TRUE(sandbox.tmpEntries().empty());
  ASSERT_EQ(reader.copy(0, sandbox.wwork("x")), 0u);
  EXPECT_EQ(read_file(sandbox.work("x")), "abc");
}

// The signal that ended `body`, run in a child process; 0 when none did.
int signal_of_child(const std::function<void()>& body) {
  return test_support::run_function([&] {
           signal(SIGABRT, SIG_DFL);
           body();
           return 0;
         }).signal;
}

TEST_F(KitOpen, NoCrashLeavesTheUnpackedKitBehind) {
  const std::string file = config::deflate_raw(test_support::worked_example_kit());
  write_file(sandbox.work("kit.xdk"), file);
  const wstring kit = sandbox.wwork("kit.xdk");
  // A crash inside the inflation, once it has taken the last byte of the
  // kit file, before `open` gets to read a byte of what it unpacked.
  EXPECT_EQ(signal_of_child([&kit, &file] {
              KitReader crashing;
              size_t taken = 0;
              crashing.setSourceObserver([&taken, &file](const uint8_t*, size_t size) {
                if ((taken += size) == file.size()) std::abort();
              });
              crashing.open(kit);
            }),
            SIGABRT);
  EXPECT_TRUE(sandbox.tmpEntries().empty());
  EXPECT_EQ(signal_of_child([&kit] {
              KitReader opened;
              if (opened.open(kit) == 0) raise(SIGKILL);
            }),
            SIGKILL);
  EXPECT_TRUE(sandbox.tmpEntries().empty());
}

TEST_F(KitOpen, MultiLanguageHeaderForAnyNonzeroFlag) {
  const std::vector<KitProductInfo> records = {
      {u"en", u"Templates", u"Labs", u"docs/en.html"},
      {u"ru", u"\u0428\u0430\u0431\u043b\u043e\u043d\u044b", u"", u"docs\\ru.html"},
  };
  for (uint32_t flag : {1u, 0xFFFFFFFFu}) {
    KitReader fresh;
    write_file(sandbox.work("kit.xdk"),
               config::deflate_raw(config::encode_multi_header(records, flag) +
                                   config::encode_file_table({})));
    ASSERT_EQ(fresh.open(sandbox.wwork("kit.xdk")), 0u) << flag;
    ASSERT_EQ(fresh.productInfo.size(), 2u);
    EXPECT_EQ(fresh.productInfo[1].language, u"ru");
    EXPECT_EQ(fresh.productInfo[1].product, records[1].product);
    EXPECT_EQ(fresh.productInfo[1].vendor, u"");
    EXPECT_EQ(fresh.productInfo[1].description, u"docs\\ru.html");
    EXPECT_EQ(fresh.productInfo[0].description, u"docs/en.html");
  }
}

TEST_F(KitOpen, NoRecordsAndNoEntriesOpen) {
  ASSERT_EQ(openUnpacked(config::encode_multi_header({}) + config::encode_file_table({})), 0u);
  EXPECT_TRUE(reader.productInfo.empty());
  EXPECT_TRUE(reader.entries.empty());
  EXPECT_TRUE(reader.isOpen());
}

TEST_F(KitOpen, PaddingAfterTheFieldsOfARecordIsSkipped) {
  std::string kit;
  config::append_u32_le(kit, 7);  // multi-language
  config::append_u32_le(kit, 2);
  kit += config::encode_language_record({u"de", u"P", u"V", u"d"}, 9);
  kit += config::encode_language_record({u"en", u"Q", u"W", u"e"}, 0);
  config::append_u32_le(kit, 2);
  kit += config::encode_file_record({u"a\\one", file_time(5, 6), 0, 10}, 3);
  kit += config::encode_file_record({u"two", file_time(7, 8), 10, 5}, 11);
  const size_t dataStart = kit.size();
  kit += "0123456789ABCDE";
  ASSERT_EQ(openUnpacked(kit), 0u);
  ASSERT_EQ(reader.productInfo.size(), 2u);
  EXPECT_EQ(reader.productInfo[0].description, u"d");
  EXPECT_EQ(reader.productInfo[1].language, u"en");
  ASSERT_EQ(reader.entries.size(), 2u);
  EXPECT_EQ(reader.entries[0].name, u"a\\one");
  EXPECT_EQ(reader.entries[0].lastWriteTime.dwLowDateTime, 5u);
  EXPECT_EQ(reader.entries[0].lastWriteTime.dwHighDateTime, 6u);
  EXPECT_EQ(reader.entries[0].offset, dataStart);
  EXPECT_EQ(reader.entries[1].offset, dataStart + 10);
  EXPECT_EQ(reader.entries[1].lastWriteTime.dwHighDateTime, 8u);
  ASSERT_EQ(reader.copy(1, sandbox.wwork("two")), 0u);
  EXPECT_EQ(read_file(sandbox.work("two")), "ABCDE");
}

TEST_F(KitOpen, RoundTripThroughTheWriterInBothHeaderForms) {
  std::vector<config::KitSourceFile> files;
  const std::vector<std::string> contents = {"first", "", std::string(100000, 'q'), "last\n"};
  const std::vector<std::string> names = {"a.tpl", "empty", "sub/dir/big.tpl", "z.cfg"};
  for (size_t i = 0; i < names.size(); ++i) {
    write_file(sandbox.work("src" + std::to_string(i)), contents[i]);
    files.push_back({widen_lib(names[i]), file_time(1000u + i, 30000000u),
                     sandbox.work("src" + std::to_string(i)), contents[i].size()});
  }
  const std::vector<std::string> headers = {
      config::encode_single_header(u"Prod", u"Vend", u"docs/d.html"),
      config::encode_multi_header({{u"en", u"Prod", u"Vend", u"docs/en.html"},
                                   {u"de", u"Produkt", u"Hersteller", u"docs/de.html"}})};
  for (const std::string& header : headers) {
    std::string error;
    ASSERT_TRUE(config::write_kit(sandbox.work("kit.xdk"), header, files, 6, error)) << error;
    KitReader fresh;
    ASSERT_EQ(fresh.open(sandbox.wwork("kit.xdk")), 0u);
    ASSERT_EQ(fresh.entries.size(), names.size());
    EXPECT_EQ(fresh.productInfo.size(), header == headers[0] ? 1u : 2u);
    EXPECT_EQ(fresh.productInfo[0].product, u"Prod");
    for (size_t i = 0; i < names.size(); ++i) {
      EXPECT_EQ(fresh.entries[i].name, widen_lib(names[i]));
      EXPECT_EQ(fresh.entries[i].lastWriteTime.dwLowDateTime, 1000u + i);
      EXPECT_EQ(fresh.entries[i].size, contents[i].size());
      ASSERT_EQ(fresh.copy(i, sandbox.wwork("out")), 0u);
      EXPECT_EQ(read_file(sandbox.work("out")), contents[i]) << names[i];
    }
  }
  EXPECT_TRUE(sandbox.tmpEntries().empty());
}

TEST_F(KitOpen, UnpackedSizeOfExactlyTwoOutputPieces) {
  const size_t overhead = test_support::single_language_kit({"f"}, {""}).size();
  const std::string content(65536 - overhead, 'k');
  const std::string kit = test_support::single_language_kit({"f"}, {content});
  ASSERT_EQ(kit.size(), 65536u);
  ASSERT_EQ(openUnpacked(kit), 0u);
  ASSERT_EQ(reader.copy(0, sandbox.wwork("f")), 0u);
  EXPECT_EQ(read_file(sandbox.work("f")), content);
}

TEST_F(KitOpen, ProductRecordsAccumulateAcrossOpensWhileEntriesAreReplaced) {
  ASSERT_EQ(openUnpacked(test_support::worked_example_kit()), 0u);
  ASSERT_EQ(openUnpacked(test_support::single_language_kit({"p", "q"}, {"1", "2"})), 0u);
  EXPECT_EQ(reader.productInfo.size(), 2u);
  EXPECT_EQ(reader.entries.size(), 2u);
  // The first unpacked kit was closed by the second open.
  EXPECT_EQ(test_support::open_fd_count(), fdsBefore + 1);
  expectCleanFailure(openUnpacked("\x01"), "damaged third open");
}

TEST_F(KitOpen, MissingGzipAndEmptyKitsFailWithoutATrace) {
  expectCleanFailure(reader.open(sandbox.wwork("absent.xdk")), "missing");
  EXPECT_EQ(reader.open(sandbox.wwork("absent.xdk")), 2u);

  write_file(sandbox.work("kit.gz"), std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10) +
                                         std::string(20, '\x55'));
  expectCleanFailure(reader.open(sandbox.wwork("kit.gz")), "gzip");
  EXPECT_EQ(reader.open(sandbox.wwork("kit.gz")), 13u);

  write_file(sandbox.work("empty.xdk"), "");
  expectCleanFailure(reader.open(sandbox.wwork("empty.xdk")), "empty");

  // Not waited on: nobody will ever write into it.
  ASSERT_EQ(0, mkfifo(sandbox.work("fifo.xdk").c_str(), 0600));
  expectCleanFailure(reader.open(sandbox.wwork("fifo.xdk")), "fifo");
}

// Kits that break one rule each; all must fail with 13.
struct DamagedKit {
  const char* what;
  std::string bytes;
};

std::string u32(uint32_t value) {
  std::string out;
  config::append_u32_le(out, value);
  return out;
}

std::string name_record(const std::string& nameUnits, uint32_t count, uint32_t recordSize) {
  return u32(recordSize) + u32(count) + nameUnits;
}

std::vector<DamagedKit> damaged_kits() {
  const std::string single = config::encode_single_header(u"P", u"V", u"");
  const std::string multiOne = config::encode_multi_header({{u"en", u"P", u"V", u"D"}});
  const std::string okRecord = config::encode_file_record({u"f", file_time(0, 0), 0, 3});
  return {
      {"header flag cut", std::string("\0\0", 2)},
      {"string count past the data", u32(0) + u32(0xFFFFFFFF)},
      {"string units past the data", u32(0) + u32(100) + "abcd"},
      {"missing entry count", single},
      {"entry count cut", single + "\x01\x00"},
      {"record count 0xFFFFFFFF", u32(1) + u32(0xFFFFFFFF) + std::string(64, '\0')},
      {"language record size 0", u32(1) + u32(1) + u32(0) + std::string(40, '\0')},
      {"language record size 3", u32(1) + u32(1) + u32(3) + std::string(40, '\0')},
      {"language record past the data", u32(1) + u32(1) + u32(1000) + std::string(40, '\0')},
      // Checked before anything is allocated for the record.
      {"language record size 0xFFFFFFFF",
       u32(1) + u32(1) + u32(0xFFFFFFFF) + std::string(40, '\0')},
      {"language string past its record",
       u32(1) + u32(1) + u32(4 + 16) + u32(20) + std::string(12, '\0') + u32(0) +
           std::string(64, '\0')},
      {"language record without all strings",
       u32(1) + u32(1) + u32(8) + u32(0) + std::string(40, '\0')},
      {"entry count 0xFFFFFFFF", single + u32(0xFFFFFFFF) + okRecord + "abc"},
      {"entry count above its records", multiOne + u32(2) + okRecord + "abc"},
      {"file record size 2", single + u32(1) + u32(2) + std::string(40, '\0')},
      {"file record past the data", single + u32(1) + u32(4000) + std::string(40, '\0')},
      {"file record size 0xFFFFFFFF", single + u32(1) + u32(0xFFFFFFFF) + std::string(40, '\0')},
      {"name past its record",
       single + u32(1) + name_record(std::string("f\0", 2), 50, 24) + std::string(40, '\0')},
      {"name count 0xFFFFFFFF",
       single + u32(1) + name_record(std::string(16, '\0'), 0xFFFFFFFF, 24) + std::string(8, 'x')},
      {"file record without its values",
       single + u32(1) + name_record(std::string("f\0", 2), 1, 4 + 4 + 2 + 8) + "abcdefgh" +
           std::string(16, 'd')},
      {"entry past the data",
       single + config::encode_file_table({{u"f", file_time(0, 0), 0, 4}}) + "abc"},
      {"entry offset past the data",
       single + config::encode_file_table({{u"f", file_time(0, 0), 3, 1}}) + "abc"},
      {"entry offset wrapping around",
       single + config::encode_file_table({{u"f", file_time(0, 0), 0xFFFFFFFF, 2}}) + "abc"},
      {"entry size 0xFFFFFFFF",
       single + config::encode_file_table({{u"f", file_time(0, 0), 1, 0xFFFFFFFF}}) + "abc"},
      {"second entry past the data",
       single +
           config::encode_file_table(
               {{u"f", file_time(0, 0), 0, 3}, {u"g", file_time(0, 0), 2, 2}}) +
           "abc"},
  };
}

TEST_F(KitOpen, EveryDamagedKitFailsThroughTheFailurePath) {
  for (const DamagedKit& kit : damaged_kits()) {
    const unsigned code = openUnpacked(kit.bytes);
    EXPECT_EQ(code, 13u) << kit.what;
    expectCleanFailure(code, kit.what);
  }
}

TEST_F(KitOpen, EveryShorterPrefixOfAKitIsDamaged) {
  std::string kit;
  config::append_u32_le(kit, 1);
  config::append_u32_le(kit, 1);
  kit += config::encode_language_record({u"en", u"Pr", u"Ve", u"De"}, 2);
  kit += config::encode_file_table(
      {{u"a", file_time(1, 2), 0, 2}, {u"dir/b", file_time(3, 4), 2, 3}});
  kit += "xxyyy";
  ASSERT_EQ(openUnpacked(kit), 0u);
  for (size_t length = 0; length < kit.size(); ++length) {
    const unsigned code = openUnpacked(kit.substr(0, length));
    expectCleanFailure(code, "prefix of " + std::to_string(length));
  }
}

// Everything the reader unpacked, read back through its handle.
std::string unpacked_bytes(KitReader& opened) {
  std::string out;
  char buffer[4096];
  for (;;) {
    size_t got = 0;
    if (opened.readUnpacked(out.size(), buffer, sizeof buffer, got) != 0) return "<read>";
    if (got == 0) return out;
    out.append(buffer, got);
  }
}

TEST_F(KitOpen, EverySingleByteChangeOfAPackedKitIsRefusedOrChangesNothing) {
  const std::string unpacked =
      test_support::single_language_kit({"a.tpl", "dir/b.frm"}, {"alpha", "beta beta beta"});
  // Stored blocks (level 0) decode any payload byte without complaint, so
  // only the trailer can notice; level 9 exercises the Huffman-coded form.
  // Levels 1 and 8 give the kits a version 2 trailer, which is also read
  // table first and completed: that must accept exactly what `open` does.
  for (int level : {0, 9, 1, 8}) {
    const std::string kit = config::deflate_raw_with_trailer(
        unpacked, level, level % 9 == 0 ? config::kNoTableEnd : unpacked.size() - 19);  // 19: data
    write_file(sandbox.work("kit.xdk"), kit);
    ASSERT_EQ(reader.open(sandbox.wwork("kit.xdk")), 0u);
    ASSERT_EQ(unpacked_bytes(reader), unpacked);
    // Three changes per byte (lowest bit, highest bit, all bits) keep the
    // test quick; every one of the 255 other values passes as well.
    for (size_t offset = 0; offset < kit.size(); ++offset) {
      for (int flip : {0x01, 0x80, 0xFF}) {
        std::string changed = kit;
        changed[offset] = static_cast<char>(changed[offset] ^ flip);
        write_file(sandbox.work("kit.xdk"), changed);
        KitReader damaged;
        KitReader tableFirst;
        const bool stepwise =
            tableFirst.openTable(sandbox.wwork("kit.xdk")) == 0 && tableFirst.complete() == 0;
        if (damaged.open(sandbox.wwork("kit.xdk")) == 0) {
          ASSERT_EQ(unpacked_bytes(damaged), unpacked)
              << "level " << level << ", byte " << offset << " of " << kit.size() << " xor "
              << flip;
          ASSERT_TRUE(stepwise && unpacked_bytes(tableFirst) == unpacked) << level << " " << offset;
        } else {
          ASSERT_FALSE(stepwise) << "level " << level << ", byte " << offset << " xor " << flip;
        }
      }
    }
  }
  EXPECT_TRUE(sandbox.tmpEntries().empty());
}

// A version 2 trailer checks the header and table on their own: a changed
// table is refused even when the whole-kit CRC-32 was made to match it,
// whether the kit is read whole or table first.
TEST_F(KitOpen, TheTableChecksumRefusesAChangedTable) {
  const std::string unpacked = test_support::single_language_kit({"a", "b"}, {"alpha", "beta"});
  const size_t tableEnd = unpacked.size() - 9;
  std::string changed = unpacked;
  changed[tableEnd - 4] = 3;  // the last entry's size: 4 becomes 3, still well-formed
  config::KitTrailer forged = config::kit_trailer_of(changed, tableEnd);
  forged.tableCrc = config::kit_trailer_of(unpacked, tableEnd).tableCrc;
  const std::string kit = config::deflate_raw(changed);
  // With its own table CRC the changed kit is sound: the check is the refusal.
  for (const bool forgedTrailer : {true, false}) {
    const config::KitTrailer trailer =
        forgedTrailer ? forged : config::kit_trailer_of(changed, tableEnd);
    write_file(sandbox.work("kit.xdk"), kit + config::encode_kit_trailer(trailer));
    for (const bool tableFirst : {false, true}) {
      const unsigned code = tableFirst ? reader.openTable(sandbox.wwork("kit.xdk"))
                                       : reader.open(sandbox.wwork("kit.xdk"));
      EXPECT_EQ(code, forgedTrailer ? 13u : 0u) << tableFirst;
      if (forgedTrailer) expectCleanFailure(code, tableFirst ? "table first" : "whole");
    }
  }
}

// Read table first, a version 2 kit holds only its header and table until
// `complete`; a kit without that trailer is read whole at once.
TEST_F(KitOpen, ATableFirstReadingInflatesTheDataAreaOnlyWhenCompleted) {
  const std::string unpacked = test_support::single_language_kit({"a", "b"}, {"alpha", "beta"});
  const size_t tableEnd = unpacked.size() - 9;
  for (size_t end : {tableEnd, config::kNoTableEnd}) {
    write_file(sandbox.work("kit.xdk"), config::deflate_raw_with_trailer(unpacked, 6, end));
    ASSERT_EQ(reader.openTable(sandbox.wwork("kit.xdk")), 0u);
    const bool later = end == tableEnd;
    EXPECT_EQ(reader.isComplete(), !later);
    EXPECT_EQ(unpacked_bytes(reader), later ? unpacked.substr(0, tableEnd) : unpacked);
    EXPECT_EQ(reader.copy(1, sandbox.wwork("b")), later ? 87u : 0u);
    ASSERT_EQ(reader.complete(), 0u);
    EXPECT_EQ(unpacked_bytes(reader), unpacked);
    EXPECT_EQ(reader.copy(1, sandbox.wwork("b")), 0u);
  }
  EXPECT_TRUE(sandbox.tmpEntries().empty());
}

TEST_F(KitOpen, TruncatedStreamThatLosesEntryDataIsRefused) {
  const std::string kit = test_support::single_language_kit({"big"}, {std::string(200000, 'b')});
  const std::string stream = config::deflate_raw(kit, 0);
  write_file(sandbox.work("kit.xdk"), stream.substr(0, stream.size() - 1000));
  expectCleanFailure(reader.open(sandbox.wwork("kit.xdk")), "truncated");
}

TEST_F(KitOpen, RecordsBeforeTheDamageStay) {
  std::string kit = u32(1) + u32(3);
  kit += config::encode_language_record({u"en", u"P", u"V", u"D"});
  kit += config::encode_language_record({u"de", u"P", u"V", u"D"});
  kit += u32(2);  // third record too small
  kit += std::string(40, '\0');
  expectCleanFailure(openUnpacked(kit), "third record");
  EXPECT_EQ(reader.productInfo.size(), 2u);
}

TEST_F(KitOpen, NamesThatWouldLeaveTheCatalogAreDamage) {
  const std::vector<wstring> unsafe = {
      u"",         u"/etc/passwd", u"\\etc\\passwd", u"..",      u"../x",   u"..\\x",
      u"a/../../x", u"a\\..\\b",   u"a/..",         u"a/b/",     u"a\\",    u".",
      u"a/.",      wstring(u"a\0b", 3), wstring(u"\0", 1)};
  for (const wstring& name : unsafe) {
    const std::string kit = config::encode_single_header(u"P", u"V", u"") +
                            config::encode_file_table({{name, file_time(0, 0), 0, 1}}) + "z";
    const unsigned code = openUnpacked(kit);
    EXPECT_EQ(code, 13u) << narrow_lib(name);
    expectCleanFailure(code, narrow_lib(name));
  }
}

TEST_F(KitOpen, RelativeNamesBelowTheCatalogAreAccepted) {
  const std::vector<wstring> safe = {u"a",      u"a/b.tpl", u"a\\b\\c", u"./a",   u"a/./b",
                                     u"..a",    u"a..",     u"a/..b",   u"a//b",  u"...",
                                     u"\u0444\u0430\u0439\u043b"};
  for (const wstring& name : safe) {
    EXPECT_TRUE(config::kit_name_is_safe(name)) << narrow_lib(name);
    const std::string kit = config::encode_single_header(u"P", u"V", u"") +
                            config::encode_file_table({{name, file_time(0, 0), 0, 1}}) + "z";
    EXPECT_EQ(openUnpacked(kit), 0u) << narrow_lib(name);
  }
}

}  // namespace
