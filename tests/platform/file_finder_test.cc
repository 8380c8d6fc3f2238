#include "platform/file_finder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/text_encoding.h"
#include "tests/support/file_io.h"
#include "tests/support/sandbox.h"

namespace {

using test_support::Sandbox;
using test_support::write_file;


struct Entry {
  std::string name;
  unsigned attributes;
  bool operator<(const Entry& other) const { return name < other.name; }
  bool operator==(const Entry& other) const {
    return name == other.name && attributes == other.attributes;
  }
};

// Every entry the finder yields for `searchPath`, sorted (the system's order
// is its own); records whether any step returned false before the end.
std::vector<Entry> list(FileFinder& finder, const wstring& searchPath) {
  std::vector<Entry> out;
  for (bool ok = finder.reset(searchPath); ok; ok = finder.next()) {
    out.push_back({narrow_lib(finder.name()), finder.attributes()});
  }
  std::sort(out.begin(), out.end());
  return out;
}

class FileFinderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(box.ok()); }
  Sandbox box{"."};
};

TEST_F(FileFinderTest, StarListsDotsAndFilesWithDirectoryBits) {
  ASSERT_EQ(mkdir(box.path("d").c_str(), 0700), 0);
  write_file(box.path("d/f"), "x");
  FileFinder finder;
  std::vector<Entry> expected = {{".", 0x10}, {"..", 0x10}, {"f", 0}};
  EXPECT_EQ(list(finder, box.wpath("d/*")), expected);
  // At the end the finder is closed.
  EXPECT_FALSE(finder.next());
  EXPECT_EQ(finder.name(), u"");
  EXPECT_EQ(finder.attributes(), 0u);
}

TEST_F(FileFinderTest, SubdirectoriesAndLinksToThemCountAsDirectories) {
  ASSERT_EQ(mkdir(box.path("d").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(box.path("d/sub").c_str(), 0700), 0);
  ASSERT_EQ(symlink("sub", box.path("d/dirlink").c_str()), 0);
  write_file(box.path("d/.hidden"), "x");
  FileFinder finder;
  std::vector<Entry> expected = {
      {".", 0x10}, {"..", 0x10}, {".hidden", 0}, {"dirlink", 0x10}, {"sub", 0x10}};
  EXPECT_EQ(list(finder, box.wpath("d/*")), expected);
}

TEST_F(FileFinderTest, ADanglingLinkDoesNotCutTheListingShort) {
  ASSERT_EQ(mkdir(box.path("d").c_str(), 0700), 0);
  for (const char* name : {"a", "b", "c", "e"}) write_file(box.path("d/") + name, "x");
  ASSERT_EQ(symlink("nowhere", box.path("d/dangling").c_str()), 0);
  FileFinder finder;
  std::vector<Entry> expected = {{".", 0x10}, {"..", 0x10}, {"a", 0}, {"b", 0},
                                 {"c", 0},    {"dangling", 0}, {"e", 0}};
  EXPECT_EQ(list(finder, box.wpath("d/*")), expected);
}

TEST_F(FileFinderTest, PatternsUseWildcardsAndTreatBackslashLiterally) {
  ASSERT_EQ(mkdir(box.path("d").c_str(), 0700), 0);
  for (const char* name : {"a.txt", "b.txt", "a.cfg", "x\\y", "[1]"}) {
    write_file(box.path("d/") + name, "x");
  }
  FileFinder finder;
  EXPECT_EQ(list(finder, box.wpath("d/*.txt")), (std::vector<Entry>{{"a.txt", 0}, {"b.txt", 0}}));
  EXPECT_EQ(list(finder, box.wpath("d/a.???")), (std::vector<Entry>{{"a.cfg", 0}, {"a.txt", 0}}));
  EXPECT_EQ(list(finder, box.wpath("d/[ab].txt")),
            (std::vector<Entry>{{"a.txt", 0}, {"b.txt", 0}}));
  EXPECT_EQ(list(finder, box.wpath("d/x\\y")), (std::vector<Entry>{{"x\\y", 0}}));
  EXPECT_EQ(list(finder, box.wpath("d/x\\*")), (std::vector<Entry>{{"x\\y", 0}}));
}

TEST_F(FileFinderTest, FullPathIsAnExistenceTest) {
  write_file(box.path("present"), "x");
  FileFinder finder;
  EXPECT_TRUE(finder.reset(box.wpath("present")));
  EXPECT_EQ(finder.name(), u"present");
  EXPECT_EQ(finder.attributes(), 0u);
  EXPECT_FALSE(finder.reset(box.wpath("absent")));
  EXPECT_EQ(finder.name(), u"");
  EXPECT_FALSE(finder.reset(box.wpath("missing-dir/present")));
  EXPECT_FALSE(finder.reset(u""));
}

TEST_F(FileFinderTest, SearchPathWithoutSlashOrInTheRoot) {
  // Without a "/", directory and pattern are both the whole text: the
  // directory "d" is searched for an entry named "d".
  ASSERT_EQ(mkdir(box.path("d").c_str(), 0700), 0);
  FileFinder finder;
  EXPECT_FALSE(finder.reset(u"d"));
  ASSERT_EQ(mkdir(box.path("d/d").c_str(), 0700), 0);
  EXPECT_TRUE(finder.reset(u"d"));
  EXPECT_EQ(finder.attributes(), 0x10u);
  // "/tmp" splits into the root and the pattern "tmp".
  EXPECT_TRUE(finder.reset(u"/tmp"));
  EXPECT_EQ(finder.name(), u"tmp");
  EXPECT_EQ(finder.attributes(), 0x10u);
}

TEST_F(FileFinderTest, ResetOnAnOpenFinderClosesTheEarlierStream) {
  ASSERT_EQ(mkdir(box.path("d").c_str(), 0700), 0);
  write_file(box.path("d/f"), "x");
  auto open_descriptors = [] {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
      (void)entry;
      ++count;
    }
    return count;
  };
  FileFinder finder;
  ASSERT_TRUE(finder.reset(box.wpath("d/*")));
  size_t before = open_descriptors();
  for (int i = 0; i < 50; ++i) ASSERT_TRUE(finder.reset(box.wpath("d/*")));
  EXPECT_EQ(open_descriptors(), before);
  finder.close();
  EXPECT_EQ(open_descriptors(), before - 1);
  EXPECT_EQ(finder.name(), u"");
  EXPECT_FALSE(finder.next());
}

TEST_F(FileFinderTest, NamesInTheLocaleEncodingAndInAnotherOne) {
  ASSERT_EQ(mkdir(box.path("d").c_str(), 0700), 0);
  write_file(box.path("d/\xD0\x96.txt"), "x");
  write_file(box.path("d/caf\xE9"), "x");  // Latin-1 byte: not valid UTF-8
  FileFinder finder;
  std::set<wstring> names;
  for (bool ok = finder.reset(box.wpath("d/*")); ok; ok = finder.next()) {
    names.insert(finder.name());
  }
  // The Latin-1 byte is carried as it is, so the name found opens that file.
  const wstring latin1 = {u'c', u'a', u'f', 0xDCE9};
  EXPECT_EQ(names, (std::set<wstring>{u".", u"..", u"Ж.txt", latin1}));
  FileFinder exact;
  EXPECT_TRUE(exact.reset(box.wpath("d/") + latin1));
}

}  // namespace
