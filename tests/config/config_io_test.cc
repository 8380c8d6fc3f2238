// Reading and writing launcher configuration files on the real file system.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "config/config_file.h"
#include "config/config_reader.h"
#include "config/config_writer.h"
#include "platform/fault_point.h"
#include "tests/config/config_test_util.h"
#include "tests/support/child_process.h"

namespace {

using cfgtest::N;
using cfgtest::read_file;
using cfgtest::W;
using cfgtest::writeBytes;
using Values = std::vector<wstring>;

class ConfigIoTest : public cfgtest::PrivateHomeTest {
 protected:
  // Reads `bytes` from a file and writes the result to a second file.
  std::string roundTrip(const std::string& bytes, ConfigFile* out = nullptr) {
    const std::string in = root + "/in.cfg";
    const std::string res = root + "/out.cfg";
    writeBytes(in, bytes);
    ConfigFile c;
    read_config_file(W(in), c);
    write_config_file(W(res), c);
    if (out) *out = c;
    return read_file(res);
  }
};

TEST_F(ConfigIoTest, RoundTripKeepsEverythingButTheNormalisations) {
  const std::string input =
      "\xEF\xBB\xBF" "First=1\n"
      "a=b=c\n"
      "Path\n"
      "=x\n"
      "\n"
      " key = value \n"
      "K=1\n"
      "k=2\n"
      "K=1\n"
      "K=abc\n"
      "K=ABC\n"
      "Win=1\r\n"
      "WIN=2\r\n"
      "#comment\n"
      "[section]\n"
      "=\n"
      "\tTab\t=\t\n"
      "Last=end";
  const std::string expected =
      "\xEF\xBB\xBF" "First=1\n"
      "a=b=c\n"
      "Path=\n"
      "=x\n"
      " key = value \n"
      "K=1\n"
      "K=2\n"
      "K=abc\n"
      "Win=1\r\n"
      "Win=2\r\n"
      "#comment=\n"
      "[section]=\n"
      "\tTab\t=\t\n"
      "Last=end\n";
  ConfigFile c;
  EXPECT_EQ(expected, roundTrip(input, &c));

  EXPECT_EQ(nullptr, c.findValues(u"First"));
  ASSERT_NE(nullptr, c.findValues(u"\ufeffFirst"));
  EXPECT_EQ((Values{u"b=c"}), *c.findValues(u"a"));
  EXPECT_EQ((Values{u""}), *c.findValues(u"path"));
  EXPECT_EQ((Values{u"x"}), *c.findValues(u""));
  EXPECT_EQ(nullptr, c.findValues(u"key"));
  EXPECT_EQ((Values{u" value "}), *c.findValues(u" key "));
  EXPECT_EQ((Values{u"1\r", u"2\r"}), *c.findValues(u"win"));
}

TEST_F(ConfigIoTest, CrLfFileKeepsItsLineEndsAndUnendedLastLineGetsLineFeed) {
  EXPECT_EQ("A=1\r\nB=2\r\nC=3\n", roundTrip("A=1\r\nB=2\r\nC=3"));
  EXPECT_EQ("A=1\r\nB=2\r\n", roundTrip("A=1\r\nB=2\r\n"));
}

TEST_F(ConfigIoTest, EmptyFilesAndBlankLinesGiveNoEntries) {
  ConfigFile c;
  EXPECT_EQ("", roundTrip("", &c));
  EXPECT_TRUE(c.entries().empty());
  EXPECT_EQ("", roundTrip("\n\n=\n\n", &c));
  EXPECT_TRUE(c.entries().empty());
}

TEST_F(ConfigIoTest, ReadMergesIntoExistingContentAndMissingFileAddsNothing) {
  ConfigFile c;
  c.addValue(u"Key", u"old");
  read_config_file(W(root + "/none.cfg"), c);
  read_config_file(W(root + "/nodir/none.cfg"), c);
  ASSERT_EQ(1u, c.entries().size());
  writeBytes(root + "/x.cfg", "KEY=new\nkey=OLD\nOther=1\n");
  read_config_file(W(root + "/x.cfg"), c);
  ASSERT_EQ(2u, c.entries().size());
  EXPECT_EQ(u"Key", c.entries()[0].key);
  EXPECT_EQ((Values{u"old", u"new"}), *c.findValues(u"key"));
}

TEST_F(ConfigIoTest, DirectoryAsFileReadsAsEmpty) {
  ConfigFile c;
  read_config_file(W(root), c);
  EXPECT_TRUE(c.entries().empty());
}

// A multibyte character split by the reader's 1024-byte chunks, at every
// possible cut, decodes as one character.
TEST_F(ConfigIoTest, MultibyteCharactersAcrossChunkBoundaries) {
  const std::string chars[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xD0\x96"};
  const wstring wide[] = {u"\u00e9", u"\u20ac", u"\u0416"};
  for (int k = 0; k < 3; ++k) {
    const size_t len = chars[k].size();
    for (size_t cut = 1; cut < len; ++cut) {
      for (size_t boundary : {1024u, 2048u}) {
        // The character starts `cut` bytes before the chunk boundary.
        const std::string prefix = "Key=";
        const std::string pad(boundary - cut - prefix.size(), 'p');
        const std::string line = prefix + pad + chars[k] + chars[k] + "tail\n";
        ConfigFile c;
        const std::string out = roundTrip(line + "Next=" + chars[k], &c);
        EXPECT_EQ(line + "Next=" + chars[k] + "\n", out) << "char " << k << " cut " << cut;
        ASSERT_NE(nullptr, c.findValues(u"Key"));
        const wstring expect = W(pad) + wide[k] + wide[k] + u"tail";
        EXPECT_EQ(expect, c.findValues(u"Key")->front()) << "char " << k << " cut " << cut;
        EXPECT_EQ((Values{wide[k]}), *c.findValues(u"next"));
      }
    }
  }
}

TEST_F(ConfigIoTest, LongKeysAndValuesBeyondTheFieldBuffer) {
  const std::string key(5000, 'k');
  std::string value;
  for (int i = 0; i < 3000; ++i) value += "\xD0\x96";  // 6000 bytes, 3000 units
  ConfigFile c;
  const std::string line = key + "=" + value + "=" + value + "\n";
  EXPECT_EQ(line + "B=1\n", roundTrip(line + "B=1\n", &c));
  ASSERT_NE(nullptr, c.findValues(W(key)));
  EXPECT_EQ(6001u, c.findValues(W(key))->front().size());
}

// Bytes the locale cannot decode, and zero bytes, come back as they were,
// wherever they fall relative to the chunks, and do not disturb their
// neighbours.
TEST_F(ConfigIoTest, UndecodableBytesSurviveARewrite) {
  const std::string latin1 = "Path=/srv/caf\xE9\nNul=a" + std::string(1, '\0') + "b\nOk=\xC3\xA9\n";
  ConfigFile c;
  EXPECT_EQ(latin1, roundTrip(latin1, &c));
  EXPECT_EQ((Values{u"\u00e9"}), *c.findValues(u"ok"));
  EXPECT_EQ(u"/srv/caf\xDCE9", c.findValues(u"path")->front());

  // Truncated sequence at the chunk boundary followed by ASCII, and a
  // truncated sequence at the very end of the file.
  const std::string cut = "K=" + std::string(1021, 'x') + "\xE2\x82" + "z\nEnd=\xE2\x82";
  EXPECT_EQ(cut + "\n", roundTrip(cut, &c));
  // Two distinct undecodable values under one key are both kept.
  EXPECT_EQ("V=\xFF\nV=\xFE\n", roundTrip("V=\xFF\nV=\xFE\n"));
}

// Characters beyond the 16-bit range do not fit one unit; a rewrite must
// still give back their bytes, here and across a chunk boundary.
TEST_F(ConfigIoTest, CharactersBeyondSixteenBitsSurviveARewrite) {
  const std::string face = "\xF0\x9F\x98\x80";   // U+1F600
  const std::string clef = "\xF0\x9D\x84\x9E";   // U+1D11E
  const std::string text = "Name=" + face + "x\nName=" + clef + "x\nK=" + face + "\n";
  ConfigFile c;
  EXPECT_EQ(text, roundTrip(text, &c));
  // Two different characters are two values, not one.
  ASSERT_NE(nullptr, c.findValues(u"name"));
  EXPECT_NE(c.findValues(u"name")->front(), c.findValues(u"name")->back());
  EXPECT_EQ(2u, c.findValues(u"name")->size());
  for (size_t cut = 1; cut < face.size(); ++cut) {
    const std::string line = "Key=" + std::string(1024 - cut - 4, 'q') + face + "\n";
    EXPECT_EQ(line, roundTrip(line)) << "cut " << cut;
  }
}

// Values that differ only after a zero byte are different values.
TEST_F(ConfigIoTest, ValuesDifferingAfterAZeroByteAreBothKept) {
  const std::string nul(1, '\0');
  const std::string text = "V=a" + nul + "b\nV=A" + nul + "c\nV=a" + nul + "B\nV=a\n";
  ConfigFile c;
  EXPECT_EQ("V=a" + nul + "b\nV=A" + nul + "c\nV=a\n", roundTrip(text, &c));
}

// A pipe or a device in place of the file has no settings to give: reading
// it must not wait for a writer nor read without end. Checked in a child
// with a time limit, so a hang fails the test instead of stalling it.
TEST_F(ConfigIoTest, PipeOrDeviceInPlaceOfTheFileReadsAsEmpty) {
  const std::string fifo = root + "/fifo.cfg";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
  const std::string zero = root + "/zero.cfg";
  ASSERT_EQ(0, symlink("/dev/zero", zero.c_str()));
  test_support::ChildOptions options;
  options.timeoutMs = 20000;
  const test_support::ChildResult child = test_support::run_function(
      [&] {
        ConfigFile c;
        read_config_file(W(fifo), c);
        read_config_file(W(zero), c);
        const bool fifoAnsi = is_ansi_encoded(W(fifo));
        return c.entries().empty() && !fifoAnsi ? 0 : 1;
      },
      options);
  EXPECT_NE(-1, child.status) << "the reader hung or crashed";
  if (child.status != -1) {
    EXPECT_EQ(0, child.status);
  }
}

TEST_F(ConfigIoTest, WriterProducesKeyEqualsValueLinesAndSkipsEmptyLists) {
  ConfigFile c;
  c.addValue(u"A", u"1");
  c.addValue(u"A", u"2");
  c.setValues(u"Empty", {});
  c.addValue(u"Path", u"");
  c.addValue(u"\u041a", u"\u0416");
  const std::string path = root + "/w.cfg";
  write_config_file(W(path), c);
  EXPECT_EQ("A=1\nA=2\nPath=\n\xD0\x9A=\xD0\x96\n", read_file(path));
}

TEST(IsAnsiEncoded, LooksForTheUtf16LittleEndianMarkOnly) {
  const test_support::TempDir scratch;
  ASSERT_TRUE(scratch.ok());
  const std::string& dir = scratch.path();
  struct Case {
    const char* name;
    std::string bytes;
    bool expected;
  } cases[] = {
      {"utf16le", std::string("\xFF\xFE" "K\0", 4), false},
      {"utf16be", std::string("\xFE\xFF" "\0K", 4), true},
      {"utf8bom", "\xEF\xBB\xBF" "K=1", true},
      {"plain", "K=1\n", true},
      {"two", "ab", true},
      {"one", "a", false},
      {"empty", "", false},
  };
  for (const Case& c : cases) {
    cfgtest::writeBytes(dir + "/" + c.name, c.bytes);
    EXPECT_EQ(c.expected, is_ansi_encoded(W(dir + "/" + c.name))) << c.name;
  }
  EXPECT_FALSE(is_ansi_encoded(W(dir + "/missing")));
}

// --- writes that fail leave the old file whole ---

ConfigFile sample() {
  ConfigFile c;
  c.addValue(u"ConfigurationTemplatesLocation", u"/new/catalog");
  c.addValue(u"Other", u"kept");
  return c;
}

TEST_F(ConfigIoTest, MissingDirectoryThrowsOneAndCreatesNothing) {
  const std::string path = root + "/missing/qxlaunch.cfg";
  try {
    write_config_file(W(path), sample());
    FAIL() << "no exception";
  } catch (int code) {
    EXPECT_EQ(1, code);
  }
  EXPECT_FALSE(cfgtest::file_exists(root + "/missing"));
}

TEST_F(ConfigIoTest, PathBelowARegularFileThrowsOne) {
  writeBytes(root + "/plain", "not a directory\n");
  try {
    write_config_file(W(root + "/plain/qxlaunch.cfg"), sample());
    FAIL() << "no exception";
  } catch (int code) {
    EXPECT_EQ(1, code);
  }
  EXPECT_EQ("not a directory\n", read_file(root + "/plain"));
}

TEST_F(ConfigIoTest, DirectoryInPlaceOfTheFileThrowsOneAndStays) {
  const std::string path = root + "/qxlaunch.cfg";
  ASSERT_EQ(0, mkdir(path.c_str(), 0755));
  cfgtest::writeBytes(path + "/inside", "x");
  EXPECT_THROW(write_config_file(W(path), sample()), int);
  EXPECT_EQ("x", read_file(path + "/inside"));
}

// Restores the file-size limit and SIGXFSZ however the test ends.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &m_old);
    m_oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit lim = m_old;
    lim.rlim_cur = bytes;
    m_ok = setrlimit(RLIMIT_FSIZE, &lim) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &m_old);
    signal(SIGXFSZ, m_oldHandler);
  }
  bool ok() const { return m_ok; }

 private:
  rlimit m_old;
  void (*m_oldHandler)(int);
  bool m_ok = false;
};

TEST_F(ConfigIoTest, WriteFailingHalfwayThrowsTwoAndKeepsOldFile) {
  const std::string dir = root + "/cfg";
  ASSERT_EQ(0, mkdir(dir.c_str(), 0755));
  const std::string path = dir + "/qxlaunch.cfg";
  const std::string old = "ConfigurationTemplatesLocation=/old\nUserSetting=precious\n";
  writeBytes(path, old);
  ConfigFile big = sample();
  for (int i = 0; i < 200; ++i) big.addValue(u"Line", W(std::to_string(i)));
  {
    FileSizeLimit limit(64);  // the new text is far longer than this
    ASSERT_TRUE(limit.ok());
    try {
      write_config_file(W(path), big);
      FAIL() << "no exception";
    } catch (int code) {
      EXPECT_EQ(2, code);
    }
  }
  EXPECT_EQ(old, read_file(path));
  // No half-written temporary file is left beside it.
  EXPECT_EQ((std::vector<std::string>{"qxlaunch.cfg"}), cfgtest::list_dir(dir));

  // With a second link the file is written in place; failing halfway, the
  // old bytes go back and both names still show them.
  ASSERT_EQ(0, link(path.c_str(), (dir + "/other-name").c_str()));
  {
    FileSizeLimit limit(64);
    ASSERT_TRUE(limit.ok());
    try {
      write_config_file(W(path), big);
      FAIL() << "no exception";
    } catch (int code) {
      EXPECT_EQ(2, code);
    }
  }
  EXPECT_EQ(old, read_file(path));
  EXPECT_EQ(old, read_file(dir + "/other-name"));
}

// A writer killed while writing (here by exceeding its file-size limit)
// leaves one temporary; the next write removes it. A temporary of a process
// that is still running stays.
TEST_F(ConfigIoTest, TemporaryOfAKilledWriterIsRemovedByTheNextWrite) {
  const std::string dir = root + "/cfg";
  ASSERT_EQ(0, mkdir(dir.c_str(), 0755));
  const std::string path = dir + "/qxlaunch.cfg";
  writeBytes(path, "Old=1\n");
  ConfigFile big = sample();
  for (int i = 0; i < 200; ++i) big.addValue(u"Line", W(std::to_string(i)));
  test_support::ChildOptions options;
  options.fileSizeLimit = 64;
  const test_support::ChildResult child = test_support::run_function(
      [&] {
        rlimit none{0, 0};
        setrlimit(RLIMIT_CORE, &none);
        signal(SIGXFSZ, SIG_DFL);
        try {
          write_config_file(W(path), big);
        } catch (...) {
        }
        return 0;
      },
      options);
  ASSERT_NE(0, child.signal) << "the writer was not killed";
  ASSERT_EQ(2u, cfgtest::list_dir(dir).size()) << "no temporary left by the killed writer";
  const std::string live = dir + "/.qxlaunch.cfg.qxr8tmp." + std::to_string(getppid()) + ".abcd1234";
  writeBytes(live, "a running writer's\n");
  EXPECT_EQ("Old=1\n", read_file(path));

  write_config_file(W(path), sample());
  EXPECT_EQ("ConfigurationTemplatesLocation=/new/catalog\nOther=kept\n", read_file(path));
  EXPECT_EQ((std::vector<std::string>{".qxlaunch.cfg.qxr8tmp." + std::to_string(getppid()) +
                                      ".abcd1234",
                                      "qxlaunch.cfg"}),
            cfgtest::list_dir(dir));
}

// A hard-linked file is rewritten in place: a shorter text padded with empty
// lines, so a kill just before the cut leaves a file with the new list.
TEST_F(ConfigIoTest, InPlaceRewriteKilledBeforeTheCutLeavesTheNewList) {
  const std::string path = root + "/qxlaunch.cfg";
  const std::string old = "ConfigurationTemplatesLocation=/a/long/old/catalog\nTorn=tail\n";
  writeBytes(path, old);
  ASSERT_EQ(0, link(path.c_str(), (root + "/other-name").c_str()));
  const test_support::ChildResult child = test_support::run_function([&] {
    set_fault_action([](FaultPoint) { raise(SIGKILL); });
    write_config_file(W(path), sample());
    return 0;
  });
  ASSERT_EQ(SIGKILL, child.signal) << "the writer never reached the cut";
  const std::string text = "ConfigurationTemplatesLocation=/new/catalog\nOther=kept\n";
  EXPECT_EQ(text + std::string(old.size() - text.size(), '\n'), read_file(path));
  ConfigFile seen;
  EXPECT_TRUE(read_config_file(W(path), seen) && seen.entries().size() == 2);
  EXPECT_TRUE(write_config_file(W(path), sample()));
  EXPECT_EQ(text, read_file(root + "/other-name"));
}

TEST_F(ConfigIoTest, ReplaceKeepsModeBitsAndLeavesNoTemporaryFiles) {
  const std::string dir = root + "/cfg";
  ASSERT_EQ(0, mkdir(dir.c_str(), 0755));
  const std::string path = dir + "/qxlaunch.cfg";
  writeBytes(path, "Old=1\n");
  ASSERT_EQ(0, chmod(path.c_str(), 0604));
  write_config_file(W(path), sample());
  EXPECT_EQ("ConfigurationTemplatesLocation=/new/catalog\nOther=kept\n", read_file(path));
  struct stat st;
  ASSERT_EQ(0, stat(path.c_str(), &st));
  EXPECT_EQ(0604u, st.st_mode & 07777);
  EXPECT_EQ((std::vector<std::string>{"qxlaunch.cfg"}), cfgtest::list_dir(dir));
}

// A file its user may not write (read-only mode) is refused like an open for
// writing would refuse it, and stays as it was. The suite runs as root, who
// may write anything, so the write is made by a child that has given up root.
TEST_F(ConfigIoTest, FileWithoutWritePermissionIsRefusedWithOne) {
  const uid_t kNobody = test_support::kOtherUser;
  const std::string dir = root + "/cfg";
  ASSERT_EQ(0, mkdir(dir.c_str(), 0777));
  ASSERT_EQ(0, chmod(dir.c_str(), 0777));
  ASSERT_EQ(0, chmod(root.c_str(), 0711));
  const std::string path = dir + "/qxlaunch.cfg";
  const std::string old = "ConfigurationTemplatesLocation=/old\nUserSetting=precious\n";
  writeBytes(path, old);
  ASSERT_EQ(0, chmod(path.c_str(), 0444));
  if (geteuid() == 0) {
    ASSERT_EQ(0, chown(path.c_str(), kNobody, kNobody));
  }

  test_support::ChildOptions options;
  options.asOtherUser = geteuid() == 0;
  const test_support::ChildResult child = test_support::run_function(
      [&] {
        try {
          write_config_file(W(path), sample());
        } catch (int code) {
          return 10 + code;
        } catch (...) {
          return 91;
        }
        return 0;
      },
      options);
  ASSERT_NE(-1, child.status);
  EXPECT_EQ(11, child.status) << "0: replaced, 12: thrown 2, 77: could not drop root";
  EXPECT_EQ(old, read_file(path));
  struct stat st;
  ASSERT_EQ(0, stat(path.c_str(), &st));
  EXPECT_EQ(0444u, st.st_mode & 07777);
  EXPECT_EQ((std::vector<std::string>{"qxlaunch.cfg"}), cfgtest::list_dir(dir));
}

TEST_F(ConfigIoTest, NewFileGetsUmaskMode) {
  const mode_t old = umask(027);
  const std::string path = root + "/fresh.cfg";
  write_config_file(W(path), sample());
  umask(old);
  struct stat st;
  ASSERT_EQ(0, stat(path.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
}

TEST_F(ConfigIoTest, FileNameNearTheLengthLimitCanStillBeReplaced) {
  const std::string path = root + "/" + std::string(250, 'n');
  writeBytes(path, "Old=1\n");
  write_config_file(W(path), sample());
  EXPECT_EQ("ConfigurationTemplatesLocation=/new/catalog\nOther=kept\n", read_file(path));
  // The sandbox's home, tmp and work, and the file: no temporary left.
  EXPECT_EQ(4u, cfgtest::list_dir(root).size());
}

TEST_F(ConfigIoTest, SymbolicLinkChainIsFollowedAndTheTargetReplaced) {
  const std::string real = root + "/real";
  const std::string cfg = root + "/cfg";
  ASSERT_EQ(0, mkdir(real.c_str(), 0755));
  ASSERT_EQ(0, mkdir(cfg.c_str(), 0755));
  writeBytes(real + "/target.cfg", "Old=1\n");
  ASSERT_EQ(0, chmod((real + "/target.cfg").c_str(), 0640));
  // cfg/qxlaunch.cfg -> hop (relative) -> ../real/target.cfg (relative)
  ASSERT_EQ(0, symlink("../real/target.cfg", (cfg + "/hop").c_str()));
  ASSERT_EQ(0, symlink("hop", (cfg + "/qxlaunch.cfg").c_str()));

  write_config_file(W(cfg + "/qxlaunch.cfg"), sample());

  struct stat st;
  ASSERT_EQ(0, lstat((cfg + "/qxlaunch.cfg").c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(0, lstat((cfg + "/hop").c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(0, lstat((real + "/target.cfg").c_str(), &st));
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  EXPECT_EQ("ConfigurationTemplatesLocation=/new/catalog\nOther=kept\n",
            read_file(real + "/target.cfg"));
  EXPECT_EQ((std::vector<std::string>{"target.cfg"}), cfgtest::list_dir(real));
}

TEST_F(ConfigIoTest, DanglingLinkCreatesItsTargetAndLinkLoopThrowsOne) {
  ASSERT_EQ(0, symlink((root + "/made.cfg").c_str(), (root + "/link.cfg").c_str()));
  write_config_file(W(root + "/link.cfg"), sample());
  EXPECT_EQ("ConfigurationTemplatesLocation=/new/catalog\nOther=kept\n",
            read_file(root + "/made.cfg"));

  ASSERT_EQ(0, symlink("loop2", (root + "/loop1").c_str()));
  ASSERT_EQ(0, symlink("loop1", (root + "/loop2").c_str()));
  try {
    write_config_file(W(root + "/loop1"), sample());
    FAIL() << "no exception";
  } catch (int code) {
    EXPECT_EQ(1, code);
  }
}

}  // namespace
