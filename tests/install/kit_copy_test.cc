// Writing single entries out of an opened kit.
#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "install/install_data.h"
#include "install/kit_writer.h"
#include "platform/file_system.h"
#include "platform/text_encoding.h"
#include "tests/support/file_io.h"
#include "tests/support/kit_builder.h"
#include "tests/support/sandbox.h"

namespace {

using test_support::read_file;
using test_support::write_file;

constexpr long kEntrySeconds = 1700000000;  // 2023-11-14 22:13:20 UTC

class KitCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sandbox.ok());
    // Three entries: text, an empty file, and one larger than the copy
    // buffer so that it takes several chunks.
    contents = {"report template\n", "", std::string(0x100000 * 2 + 12345, '\0')};
    for (size_t i = 0; i < contents[2].size(); ++i) contents[2][i] = static_cast<char>(i * 7 + i / 4099);
    const char* names[] = {"reports\\a.tpl", "empty.cfg", "big.bin"};
    std::vector<test_support::KitFile> files;
    for (size_t i = 0; i < contents.size(); ++i) {
      files.push_back({names[i], contents[i], kEntrySeconds + static_cast<long>(i)});
    }
    write_file(sandbox.work("kit.xdk"),
               config::deflate_raw(test_support::unpacked_kit(
                                       config::encode_single_header(u"P", u"V", u""), files),
                                   1));
    ASSERT_EQ(reader.open(sandbox.wwork("kit.xdk")), 0u);
    fdsAfterOpen = test_support::open_fd_count();
  }

  test_support::Sandbox sandbox;
  KitReader reader;
  std::vector<std::string> contents;
  int fdsAfterOpen = 0;
};

TEST_F(KitCopy, WritesTheBytesAndTheTimeOfEachEntry) {
  for (unsigned long i = 0; i < contents.size(); ++i) {
    const std::string out = sandbox.work("out" + std::to_string(i));
    ASSERT_EQ(reader.copy(i, widen_lib(out)), 0u) << i;
    EXPECT_EQ(read_file(out), contents[i]) << i;
    EXPECT_EQ(test_support::get_mtime(out), kEntrySeconds + static_cast<long>(i)) << i;
  }
  EXPECT_EQ(test_support::open_fd_count(), fdsAfterOpen);
  // Copies do not depend on their order: the position is set each time.
  ASSERT_EQ(reader.copy(0, sandbox.wwork("again")), 0u);
  EXPECT_EQ(read_file(sandbox.work("again")), contents[0]);
}

TEST_F(KitCopy, LongerExistingFileIsCutToTheEntry) {
  write_file(sandbox.work("old.tpl"), std::string(5000, 'o'));
  ASSERT_EQ(reader.copy(0, sandbox.wwork("old.tpl")), 0u);
  EXPECT_EQ(read_file(sandbox.work("old.tpl")), contents[0]);
}

TEST_F(KitCopy, EmptyEntryEmptiesAnExistingFileAndSetsItsTime) {
  write_file(sandbox.work("old.cfg"), "old settings");
  ASSERT_EQ(reader.copy(1, sandbox.wwork("old.cfg")), 0u);
  EXPECT_EQ(read_file(sandbox.work("old.cfg")), "");
  EXPECT_EQ(test_support::get_mtime(sandbox.work("old.cfg")), kEntrySeconds + 1);
}

TEST_F(KitCopy, EntryReachingPastTheUnpackedDataFailsInsteadOfLooping) {
  // open refuses such tables; a reader whose table was changed afterwards
  // must still end the copy.
  reader.entries[2].size += 1;
  EXPECT_EQ(reader.copy(2, sandbox.wwork("short")), 13u);
  reader.entries[0].offset = 0xFFFFFF00u;
  EXPECT_NE(reader.copy(0, sandbox.wwork("far")), 0u);
  EXPECT_EQ(test_support::open_fd_count(), fdsAfterOpen);
}

TEST_F(KitCopy, BadIndexMissingDirectoryAndClosedReaderAreErrors) {
  EXPECT_EQ(reader.copy(3, sandbox.wwork("x")), 87u);
  EXPECT_EQ(reader.copy(0, sandbox.wwork("no/such/dir/x")), 2u);
  KitReader closed;
  closed.entries = reader.entries;
  EXPECT_EQ(closed.copy(0, sandbox.wwork("x")), 87u);
  EXPECT_FALSE(test_support::file_exists(sandbox.work("x")));
  EXPECT_EQ(test_support::open_fd_count(), fdsAfterOpen);
}

}  // namespace
