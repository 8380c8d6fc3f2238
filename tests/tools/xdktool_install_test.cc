// xdktool install as a program: exit status, messages, the catalog after a
// failure, and the registration, each run with a private HOME and TMPDIR.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/catalog_registration.h"
#include "install/kit_writer.h"
#include "platform/text_encoding.h"
#include "tests/support/child_process.h"
#include "tests/support/file_io.h"
#include "tests/support/file_tree.h"
#include "tests/support/kit_builder.h"
#include "tests/support/private_env.h"
#include "tests/support/sandbox.h"
#include "tests/support/small_tmpfs.h"
#include "tests/support/temp_dir.h"
#include "tests/tools/xdktool_run.h"

using namespace test_support;

namespace {

// Runs build/bin/xdktool with `args` (no shell) in `cwd` ("": here), the
// environment being this process's (with the private HOME and TMPDIR);
// with `fileSizeLimit`, under that RLIMIT_FSIZE.
ChildResult run_tool(const std::vector<std::string>& args, const std::string& cwd = "",
                     rlim_t fileSizeLimit = 0) {
  ChildOptions options;
  options.cwd = cwd;
  options.fileSizeLimit = fileSizeLimit;
  return run_xdktool(args, options);
}

// Runs build/bin/xdktool with `args` on a terminal of `columns` columns;
// `out` is what it wrote there (stdout and stderr together).
ChildResult run_tool_on_terminal(const std::vector<std::string>& args, unsigned short columns) {
  ChildOptions options;
  options.terminalColumns = columns;
  return run_xdktool(args, options);
}

// The number of characters of `text` when it is well-formed UTF-8, else -1.
long utf8_characters(const std::string& text) {
  long count = 0;
  for (size_t i = 0; i < text.size(); ++count) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3
                                           : (lead >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return -1;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return -1;
    }
    i += length;
  }
  return count;
}

class XdktoolInstallTest : public ::testing::Test {
 protected:
  Sandbox env;
  TempDir work;
  TempDir scratch;  // holds the small file systems of the tests that need one
  TempDir catalog;

  std::string kit() {
    return make_kit(work.path(), "kit",
                    {{"templates\\reports\\a.tpl", "report a", 1700000000},
                     {"templates/forms/b.frm", "form b", 1700000001},
                     {"readme.txt", "read me", 1700000002}});
  }
};

TEST_F(XdktoolInstallTest, InstallsAndExitsZero) {
  const ChildResult r = run_tool({"install", kit(), catalog.path()});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ("", r.err) << "no progress bar when stderr is not a terminal";
  EXPECT_EQ("report a", contents_of(catalog / "templates/reports/a.tpl"));
  EXPECT_EQ(1700000001, get_mtime(catalog / "templates/forms/b.frm"));
  EXPECT_EQ("read me", contents_of(catalog / "readme.txt"));
  EXPECT_TRUE(list_tree(env.tmp()).empty());
  // A kit named without a folder is in the current one.
  EXPECT_EQ(0, run_tool({"install", "kit.xdk", catalog.path()}, work.path()).status);
}

TEST_F(XdktoolInstallTest, AKitWithoutATrailerFromAnotherToolStillInstalls) {
  const std::string unpacked =
      config::encode_single_header(u"P", u"V", u"") +
      config::encode_file_table({{u"t\\a.tpl", kit_time(1700000000), 0, 3}}) + "abc";
  write_file(work / "plain.xdk", config::deflate_raw(unpacked), 1000);
  const ChildResult r = run_tool({"install", work / "plain.xdk", catalog.path()});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ("abc", contents_of(catalog / "t/a.tpl"));
  EXPECT_EQ(1700000000, get_mtime(catalog / "t/a.tpl"));
}

// A rerun with nothing to write reads the kit only up to its checked file
// table: a kit whose data area is damaged reruns as up to date, and fails
// with 13, the catalog unchanged, as soon as a file must be written.
TEST_F(XdktoolInstallTest, ARerunWithNothingToWriteDoesNotNeedTheDataArea) {
  const std::vector<KitFile> files = {{"a.tpl", std::string(1000, 'a'), 1700000000},
                                      {"d/b.tpl", "bee", 1700000000}};
  const std::string unpacked = unpacked_kit(default_kit_header(), files);
  // Stored, so that a byte of the data area can be changed in place.
  std::string damaged = config::deflate_raw_with_trailer(unpacked, 0, unpacked.size() - 1003);
  damaged[damaged.find(files[0].content) + 500] = 'x';
  write_file(work / "damaged.xdk", damaged);
  ASSERT_EQ(0, run_tool({"install", make_kit(work.path(), "good", files), catalog.path()}).status);

  ChildResult r = run_tool({"install", work / "damaged.xdk", catalog.path()});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ("xdktool install: 0 files written (0 new, 0 replaced), 2 up to date, "
            "0 bytes written\n",
            r.out);
  // The dry run reads the kit as the run does.
  EXPECT_EQ(0, run_tool({"install", "--dry-run", work / "damaged.xdk", catalog.path()}).status);
  set_mtime(catalog / "d/b.tpl", 1000);
  const auto before = snapshot_tree(catalog.path());
  for (const bool dryRun : {true, false}) {
    r = dryRun ? run_tool({"install", "--dry-run", work / "damaged.xdk", catalog.path()})
               : run_tool({"install", work / "damaged.xdk", catalog.path()});
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos,
              r.err.find(work / "damaged.xdk: the kit is damaged or not a kit (code 13)"))
        << r.err;
  }
  EXPECT_EQ(before, snapshot_tree(catalog.path()));
  EXPECT_TRUE(list_tree(env.tmp()).empty());
}

TEST_F(XdktoolInstallTest, AFailureReportsTheCodeAndLeavesTheCatalogUnchanged) {
  write_file(catalog / "templates/reports/a.tpl", "older report", 1000);
  make_dirs(catalog / "readme.txt/user");
  const auto before = snapshot_tree(catalog.path());
  const ChildResult r = run_tool({"install", kit(), catalog.path()});
  EXPECT_EQ(1, r.status);
  // What failed and why: the folder of the user's that stands in the way.
  EXPECT_NE(std::string::npos,
            r.err.find("xdktool install: cannot write " + catalog / "readme.txt: "))
      << r.err;
  EXPECT_NE(std::string::npos, r.err.find(" (code 183)\n")) << r.err;
  // The tool has ended: the rollback must be complete by now.
  EXPECT_EQ(before, snapshot_tree(catalog.path()));
  EXPECT_TRUE(list_tree(env.tmp()).empty());
}

TEST_F(XdktoolInstallTest, ADryRunPrintsThePlanAndWritesNothing) {
  write_file(catalog / "templates/reports/a.tpl", "older report", 1000);
  write_file(catalog / "readme.txt", "kept", 1800000000);
  const std::string kitPath = kit();
  const auto before = snapshot_tree(catalog.path());
  ChildResult r = run_tool({"install", "--dry-run", kitPath, catalog.path()});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ("replace\t" + catalog / "templates/reports/a.tpl\n" +
                "new\t" + catalog / "templates/forms/b.frm\n" +
                "xdktool install: dry run: 2 files would be written (1 new, 1 replaced), "
                "1 up to date\n",
            r.out);
  EXPECT_EQ(before, snapshot_tree(catalog.path()));
  // Not even the backup tree of a replaced file was made.
  EXPECT_TRUE(list_tree(env.tmp()).empty());

  // The run then does what was planned, and says so in its last line.
  r = run_tool({"install", kitPath, catalog.path()});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ("xdktool install: 2 files written (1 new, 1 replaced), 1 up to date, "
            "14 bytes written\n",
            r.out);
  EXPECT_EQ("kept", contents_of(catalog / "readme.txt"));

  // The plan names the file where the run puts it: "." components and
  // doubled separators of a kit name are dropped by both.
  const std::string dotted = make_kit(work.path(), "dotted", {{"n/./x//y.txt", "y", 1700000000}});
  r = run_tool({"install", "--dry-run", dotted, catalog.path()});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(0u, r.out.find("new\t" + catalog / "n/x/y.txt\n")) << r.out;

  // Through the user's own link to a folder, it also says where the file
  // really lands.
  make_dirs(work / "elsewhere");
  ASSERT_EQ(0, symlink((work / "elsewhere").c_str(), (catalog / "n").c_str()));
  r = run_tool({"install", "--dry-run", dotted, catalog.path()});
  EXPECT_EQ(0u, r.out.find("new\t" + catalog / "n/x/y.txt\t" + work / "elsewhere/x/y.txt\n"))
      << r.out;
}

TEST_F(XdktoolInstallTest, AFullDiskNamesTheFileAndTheCode) {
  SmallTmpfs disk(catalog.path(), 64 * 1024);
  if (!disk.ok()) GTEST_SKIP() << disk.reason();
  const std::string kitPath =
      make_kit(work.path(), "big", {{"forms/order.frm", std::string(200000, 'o'), 1700000000}});
  const ChildResult r = run_tool({"install", kitPath, catalog.path()});
  EXPECT_EQ(1, r.status);
  // "xdktool install: cannot write PATH: REASON (code N)", then the note
  // that the catalog is unchanged.
  const std::string first = r.err.substr(0, r.err.find('\n'));
  const std::string expected = "xdktool install: cannot write " + catalog / "forms/order.frm: ";
  EXPECT_EQ(0u, first.find(expected)) << r.err;
  const size_t code = first.rfind(" (code ");
  ASSERT_NE(std::string::npos, code) << r.err;
  EXPECT_GT(code, expected.size()) << "no reason given: " << r.err;
  EXPECT_EQ(')', first.back()) << r.err;
  EXPECT_TRUE(list_tree(catalog.path()).empty());
}

TEST_F(XdktoolInstallTest, TheProgressLineOnATerminalFitsItAndNeverSplitsACharacter) {
  // A catalog name of two-byte characters, longer than the line, and large
  // entries whose names differ in length by one, so that the poll certainly
  // shows each of them and one of the cuts falls inside a character.
  std::string umlauts;
  for (int i = 0; i < 40; ++i) umlauts += "\xc3\xbc";
  const std::string target = catalog / umlauts;
  const std::string big(24 * 1024 * 1024, '\0');
  const std::string kitPath =
      make_kit(work.path(), "big", {{"ab.bin", big, 1700000000}, {"abc.bin", big, 1700000000}});
  const unsigned short columns = 60;
  const ChildResult r = run_tool_on_terminal({"install", kitPath, target}, columns);
  ASSERT_EQ(0, r.status) << r.out;
  EXPECT_EQ(big.size(), contents_of(target + "/abc.bin").size());

  // Each redraw starts with a carriage return and ends by clearing the rest
  // of the line.
  std::vector<std::string> lines;
  size_t start = r.out.find('\r');
  while (start != std::string::npos) {
    const size_t end = r.out.find("\x1b[K", start);
    if (end == std::string::npos) break;
    lines.push_back(r.out.substr(start + 1, end - start - 1));
    start = r.out.find('\r', end);
  }
  ASSERT_FALSE(lines.empty()) << r.out;
  bool sawEntry = false;
  for (const std::string& line : lines) {
    const long width = utf8_characters(line);
    EXPECT_GE(width, 0) << "not UTF-8: " << line;
    EXPECT_LT(width, static_cast<long>(columns)) << line;
    sawEntry |= line.find(".bin") != std::string::npos;
  }
  EXPECT_TRUE(sawEntry) << r.out;
  // By bytes: 2 x 24 MiB.
  EXPECT_EQ(0u, lines.back().find("100%  50.3 MB of 50.3 MB")) << r.out;

  // Quiet, even on a terminal: an up-to-date rerun says nothing at all.
  EXPECT_EQ("", run_tool_on_terminal({"install", "-q", kitPath, target}, columns).out);
  // A removal counts files; in a pipe, no line is drawn.
  EXPECT_NE(std::string::npos,
            run_tool_on_terminal({"remove", kitPath, target}, columns).out.find("2 of 2 files"));
  const ChildResult piped = run_xdktool({"install", kitPath, target});
  EXPECT_EQ(0, piped.status);
  EXPECT_EQ("", piped.err);
}

// Under the C locale Cyrillic names became "????.txt" (two entries, one
// file) and a character above U+FFFF two "?": names and the catalog must
// arrive byte for byte, and the registered catalog too.
TEST_F(XdktoolInstallTest, CyrillicAndAstralNamesAreInstalledExactlyInTheCLocale) {
  const std::string file = "\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.txt";       // файл.txt
  const std::string daughter = "\xD0\xB4\xD0\xBE\xD1\x87\xD1\x8C.txt";  // дочь.txt
  const std::string smile = "smile\xF0\x9F\x98\x80.txt";
  const std::string kitPath = make_kit(
      work.path(), "names", {{file, "f", 1700000000}, {daughter, "d", 1700000000}, {smile, "s", 1700000000}});
  const std::string target = catalog / "\xD0\xBA\xD0\xB0\xD1\x82\xF0\x9F\x98\x80";
  EnvironmentGuard locale;
  locale.set("LC_ALL", "C");
  locale.set("LANG", "C");
  const ChildResult r = run_tool({"install", "--register", kitPath, target});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("f", contents_of(target + "/" + file));
  EXPECT_EQ("d", contents_of(target + "/" + daughter));
  EXPECT_EQ("s", contents_of(target + "/" + smile));
  // The catalog folder and its three files, nothing under another name,
  // and the kit's record in its folder.
  EXPECT_EQ(6u, list_tree(catalog.path()).size());
  EXPECT_EQ(target, narrow_lib(read_catalog_registration().tmpltsList.front()));
}

// A kit entry with a lone surrogate once became "b?.txt" and overwrote the
// user's file of that name; now the run fails with 123, names the entry and
// puts back what it had written.
TEST_F(XdktoolInstallTest, AnEntryWithoutAnExactNameFailsWith123AndRollsBack) {
  write_file(catalog / "b?.txt", "the user's", 1000);
  const auto before = snapshot_tree(catalog.path());
  const std::string kitPath =
      make_kit(work.path(), "lone", {{"a.txt", "a", 1700000000}, {"", "b", 1700000000, u"b\xD800.txt"}});
  const ChildResult r = run_tool({"install", kitPath, catalog.path()});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("/b?.txt: The name is not valid (code 123)")) << r.err;
  EXPECT_EQ(before, snapshot_tree(catalog.path()));
}

TEST_F(XdktoolInstallTest, RefusesBadUsageAndBadKits) {
  EXPECT_EQ(2, run_tool({"install"}).status);
  EXPECT_EQ(2, run_tool({"install", "only-kit"}).status);
  const ChildResult bogus = run_tool({"install", "--bogus", "k", "c"});
  EXPECT_EQ(2, bogus.status);
  // One message, the one that is true.
  EXPECT_EQ("xdktool install: unknown option '--bogus'\nTry 'xdktool install --help'.\n",
            bogus.err);
  EXPECT_EQ(2, run_tool({"install", "a", "b", "c"}).status);
  const ChildResult help = run_tool({"install", "--help"});
  EXPECT_EQ(0, help.status);
  EXPECT_NE(std::string::npos, help.out.find("usage: xdktool install"));

  const ChildResult missing = run_tool({"install", work / "none.xdk", catalog.path()});
  EXPECT_EQ(1, missing.status);
  EXPECT_NE(std::string::npos, missing.err.find(std::strerror(ENOENT))) << missing.err;

  write_file(work / "garbage.xdk", std::string(4096, '\xff'), 1000);
  const ChildResult damaged = run_tool({"install", work / "garbage.xdk", catalog.path()});
  EXPECT_EQ(1, damaged.status);
  EXPECT_NE(std::string::npos, damaged.err.find("damaged")) << damaged.err;
  EXPECT_TRUE(list_tree(catalog.path()).empty());
  EXPECT_TRUE(list_tree(env.tmp()).empty());
}

TEST_F(XdktoolInstallTest, RegisterRecordsTheAbsoluteCatalogFirst) {
  const std::string kitPath = kit();
  // A relative catalog, given from the work directory.
  const ChildResult r =
      run_tool({"install", "--register", kitPath, "relative/catalog"}, work.path());
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("read me", contents_of(work / "relative/catalog/readme.txt"));
  const CatalogRegistration registration = read_catalog_registration();
  ASSERT_FALSE(registration.tmpltsList.empty());
  EXPECT_EQ(work / "relative/catalog", narrow_lib(registration.tmpltsList.front()));
  EXPECT_NE(std::string::npos, r.out.find("xdktool install: registered " +
                                          (work / "relative/catalog") + "\nxdktool install: 3"));

  // Without the option nothing is registered.
  const ChildResult plain = run_tool({"install", kitPath, catalog.path()});
  ASSERT_EQ(0, plain.status) << plain.err;
  EXPECT_EQ(work / "relative/catalog",
            narrow_lib(read_catalog_registration().tmpltsList.front()));
}

TEST_F(XdktoolInstallTest, RegistrationThatCannotBeWrittenStillSucceeds) {
  // A regular file where the launcher's configuration folder belongs makes
  // every write of the per-user file fail.
  write_file(env.home() + "/.Qx", "not a folder", 1000);
  const ChildResult r = run_tool({"install", "--register", kit(), catalog.path()});
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("could not be written")) << r.err;
  EXPECT_EQ("read me", contents_of(catalog / "readme.txt"));
  EXPECT_EQ("not a folder", contents_of(env.home() + "/.Qx"));
}

// Everything below `root` whose name starts as the run's hidden temporaries.
std::vector<std::string> stray_temporaries(const std::string& root) {
  std::vector<std::string> found;
  for (const std::string& name : list_tree(root)) {
    const size_t slash = name.find_last_of('/', name.size() - 2);
    const std::string base = name.substr(slash == std::string::npos ? 0 : slash + 1);
    if (base.rfind(".r8", 0) == 0) found.push_back(name);
  }
  return found;
}

// True when the backup tree of a run into `catalog` has `relative`.
bool backup_holds(const std::string& catalog, const std::string& relative) {
  return file_exists(catalog + "/.qxr8\\run/backup/" + relative);
}

TEST_F(XdktoolInstallTest, AKilledUpdateIsUndoneOrCompletedByTheNextRun) {
  std::vector<KitFile> files;
  for (int i = 0; i < 6; ++i) {
    files.push_back({"big/f" + std::to_string(i) + ".bin",
                     std::string(1024 * 1024 + i, static_cast<char>('a' + i)),
                     1700000000 + i});
  }
  const std::string update = make_kit(work.path(), "update", files);
  // A run that recovers the dead one, then fails on its own first entry.
  const std::string blocked = make_kit(work.path(), "blocked", {{"blocker/x", "x", 1700000000}});

  struct stat tmpStatus, shmStatus;
  const bool otherShm = stat("/dev/shm", &shmStatus) == 0 && S_ISDIR(shmStatus.st_mode) &&
                        stat(env.tmp().c_str(), &tmpStatus) == 0 &&
                        tmpStatus.st_dev != shmStatus.st_dev;
  const std::vector<std::pair<const char*, std::function<bool(const std::string&)>>> moments = {
      {"backup tree made", [](const std::string& target) { return backup_holds(target, ""); }},
      {"a file written, not yet in its place",
       [](const std::string& target) { return !list_dir(target + "/.qxr8\\run/stage").empty(); }},
      {"fourth file backed up",
       [](const std::string& target) { return backup_holds(target, "big/f3.bin"); }},
      {"last file backed up",
       [](const std::string& target) { return backup_holds(target, "big/f5.bin"); }},
  };
  int round = 0;
  for (const bool onShm : {false, true}) {
    if (onShm && !otherShm) {
      std::printf("[ SKIPPED ] /dev/shm is not another file system: TMPDIR stays with the catalog\n");
      continue;
    }
    std::unique_ptr<TempDir> shm(onShm ? new TempDir("/dev/shm") : nullptr);
    EnvironmentGuard tmpdir;
    if (onShm) tmpdir.set("TMPDIR", shm->path());
    const std::string tmp = onShm ? shm->path() : env.tmp();
    for (const auto& moment : moments) {
      SCOPED_TRACE(std::string(moment.first) + (onShm ? ", TMPDIR on another file system" : ""));
      TempDir target;
      for (int i = 0; i < 6; ++i) {
        write_file(target / files[i].name, std::string(512 * 1024 + i, 'o'), 1000 + i);
      }
      write_file(target / "blocker", "in the way", 1000);
      const auto before = snapshot_tree(target.path());

      Child run(xdktool_argv({"install", update, target.path()}));
      bool ended = false;
      for (int i = 0; i < 20000 && !moment.second(target.path()); ++i) {
        if (!run.running()) {
          ended = true;  // finished before the moment was seen: nothing to kill
          break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      if (!ended) {
        run.kill(SIGKILL);
        run.wait();
      }

      // The next run into the catalog finds the dead one whatever its own
      // temporary directory is.
      TempDir otherTmp;
      ChildOptions elsewhere;
      elsewhere.environment =
          changed_environment(current_environment(), {"TMPDIR=" + otherTmp.path()});
      if (++round % 2 == 1 && !ended) {
        // The next run rolls the dead one back before it fails itself: the
        // catalog is as before, or complete if the kill came after the
        // killed run had finished its work.
        const ChildResult r = run_xdktool({"install", blocked, target.path()}, elsewhere);
        EXPECT_EQ(1, r.status) << r.err;
        EXPECT_NE(std::string::npos, r.err.find("(code 3)")) << r.err;
        // A restore from another file system is a copy: a new inode, the
        // same bytes and time.
        auto after = snapshot_tree(target.path());
        auto expected = before;
        if (onShm) {
          for (auto& node : after) node.second.inode = 0;
          for (auto& node : expected) node.second.inode = 0;
        }
        bool complete = true;
        for (const KitFile& f : files) {
          complete = complete && contents_of(target / f.name) == f.content &&
                     get_mtime(target / f.name) == f.mtime;
        }
        if (!complete) {
          EXPECT_EQ(expected, after);
        }
      } else {
        const ChildResult r = run_xdktool({"install", update, target.path()}, elsewhere);
        EXPECT_EQ(0, r.status) << r.err;
        for (const KitFile& f : files) {
          EXPECT_EQ(f.content, contents_of(target / f.name)) << f.name;
          EXPECT_EQ(f.mtime, get_mtime(target / f.name)) << f.name;
        }
        // Later the user edits a file, and a run with the killed run's own
        // temporary directory replays nothing of that run.
        write_file(target / files[0].name, "the user's edit", 1800000000);
        const ChildResult again = run_tool({"install", update, target.path()});
        EXPECT_EQ(0, again.status) << again.err;
        EXPECT_NE(std::string::npos, again.out.find(" 0 files written")) << again.out;
        EXPECT_EQ("the user's edit", contents_of(target / files[0].name));
      }
      EXPECT_EQ(std::vector<std::string>(), stray_temporaries(target.path()));
      EXPECT_EQ(std::vector<std::string>(), list_tree(tmp));
    }
  }
}

TEST_F(XdktoolInstallTest, ASecondRunIntoABusyCatalogFailsAtOnceAndTouchesNothing) {
  write_file(catalog / "readme.txt", "older", 1000);
  const auto before = snapshot_tree(catalog.path());
  // Another installation holds the catalog.
  const int held = open(catalog.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(0, flock(held, LOCK_EX));
  const ChildResult r = run_tool({"install", kit(), catalog.path()});
  close(held);
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("another installation is writing into")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("(code 32)")) << r.err;
  EXPECT_EQ(before, snapshot_tree(catalog.path()));
  EXPECT_TRUE(list_tree(env.tmp()).empty());
}

TEST_F(XdktoolInstallTest, ACatalogWithoutRoomFailsWith112BeforeAnythingIsWritten) {
  SmallTmpfs disk(scratch / "disk", 1024 * 1024);
  if (!disk.ok()) GTEST_SKIP() << disk.reason();
  write_file(disk.path("cat/a.bin"), "older a", 1000);
  const auto before = snapshot_tree(disk.path("cat"));
  // A small kit (it compresses well) whose entries would need more room
  // than the catalog's file system has.
  const std::string kitPath = make_kit(work.path(), "big",
                                       {{"a.bin", std::string(400 * 1024, 'a'), 5000},
                                        {"b.bin", std::string(400 * 1024, 'b'), 5000},
                                        {"c.bin", std::string(400 * 1024, 'c'), 5000}});
  const ChildResult r = run_tool({"install", kitPath, disk.path("cat")});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("(code 112)")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("is unchanged")) << r.err;
  EXPECT_EQ(before, snapshot_tree(disk.path("cat")));
  EXPECT_TRUE(list_tree(env.tmp()).empty());
}

TEST_F(XdktoolInstallTest, AKitThatWouldFillTheTemporaryDirectoryStopsCleanly) {
  SmallTmpfs disk(scratch / "disk", 1024 * 1024);
  if (!disk.ok()) GTEST_SKIP() << disk.reason();
  // A few kilobytes of kit that unpack to 4 MiB.
  const std::string kitPath =
      make_kit(work.path(), "bomb", {{"zeros.bin", std::string(4 * 1024 * 1024, '\0'), 5000}});
  EnvironmentGuard tmpdir;
  tmpdir.set("TMPDIR", disk.path());
  const ChildResult r = run_tool({"install", kitPath, catalog.path()});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("does not fit in the temporary directory")) << r.err;
  EXPECT_TRUE(list_tree(disk.path()).empty());
  EXPECT_TRUE(list_tree(catalog.path()).empty());
}

TEST_F(XdktoolInstallTest, ALowOpenFileLimitMakesTheRunFrugalOrRefusedBeforeItWrites) {
  // Many folders, each a descriptor the run could be tempted to keep.
  std::vector<KitFile> files;
  for (int i = 0; i < 60; ++i) {
    files.push_back({"d" + std::to_string(i % 20) + "/e/f" + std::to_string(i), "x", 1700000000});
  }
  const std::string kitPath = make_kit(work.path(), "many", files);
  for (const rlim_t limit : {12, 20}) {
    SCOPED_TRACE(limit);
    ChildOptions low;
    low.openFileLimit = limit;
    remove_tree(catalog.path());
    const ChildResult first = run_xdktool({"install", kitPath, catalog.path()}, low);
    EXPECT_EQ(0, first.status) << first.err;
    for (const std::string& name : list_tree(catalog.path())) set_mtime(catalog / name, 1000);
    const ChildResult update = run_xdktool({"install", kitPath, catalog.path()}, low);
    EXPECT_EQ(0, update.status) << update.err;
    EXPECT_NE(std::string::npos, update.out.find("60 files written (0 new, 60 replaced)"));
    const ChildResult removal = run_xdktool({"remove", kitPath, catalog.path()}, low);
    EXPECT_EQ(0, removal.status) << removal.err;
    EXPECT_EQ(std::vector<std::string>(), list_tree(catalog.path()));
  }
  ChildOptions tooLow;
  tooLow.openFileLimit = 8;
  const ChildResult refused = run_xdktool({"install", kitPath, catalog.path()}, tooLow);
  EXPECT_EQ(1, refused.status);
  EXPECT_NE(std::string::npos, refused.err.find("too few file descriptors")) << refused.err;
  EXPECT_EQ(std::vector<std::string>(), list_tree(catalog.path()));
}

TEST_F(XdktoolInstallTest, AWritePastTheFileSizeLimitIsAFailureNotADeath) {
  const std::string kitPath =
      make_kit(work.path(), "large", {{"large.bin", std::string(512 * 1024, 'x'), 5000}});
  const ChildResult r = run_tool({"install", kitPath, catalog.path()}, "", 64 * 1024);
  EXPECT_EQ(1, r.status) << "ended by a signal instead of a message";
  EXPECT_NE(std::string::npos, r.err.find("xdktool install: ")) << r.err;
  EXPECT_TRUE(list_tree(catalog.path()).empty());
  EXPECT_TRUE(list_tree(env.tmp()).empty());
}

}  // namespace

namespace {

// One traced system call: its name and its arguments as strace printed
// them (descriptors with their paths, "<...>").
struct TracedCall {
  std::string name;
  std::string args;
};

std::vector<TracedCall> read_trace(const std::string& log) {
  std::vector<TracedCall> calls;
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    const std::string line = log.substr(start, end - start);
    start = end + 1;
    const size_t name = line.find_first_not_of(' ', line.find(' ')) - 1;
    const size_t open = line.find('(', name);
    const size_t result = line.rfind(" = ");
    const size_t close = result == std::string::npos ? result : line.rfind(')', result);
    if (name == std::string::npos || open == std::string::npos || close == std::string::npos ||
        line.compare(result + 3, 2, "-1") == 0) {
      continue;  // not a call, or a failed one
    }
    const std::string call = line.substr(name + 1, open - name - 1);
    const std::string args = line.substr(open + 1, close - open - 1);
    if (call != "io_submit") {
      calls.push_back({call, args});
      continue;
    }
    // Syncs handed to the kernel together, each waited for before the
    // program goes on: one fsync apiece.
    for (size_t at = args.find("IOCB_CMD_FSYNC, aio_fildes="); at != std::string::npos;
         at = args.find("IOCB_CMD_FSYNC, aio_fildes=", at + 1)) {
      const size_t from = at + std::strlen("IOCB_CMD_FSYNC, aio_fildes=");
      calls.push_back({"fsync", args.substr(from, args.find('}', from) - from)});
    }
  }
  return calls;
}

// The index of the first call at or after `from` that `is` accepts, or
// calls.size().
size_t find_call(const std::vector<TracedCall>& calls, size_t from,
                 const std::function<bool(const TracedCall&)>& is) {
  while (from < calls.size() && !is(calls[from])) ++from;
  return from;
}

bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

TEST_F(XdktoolInstallTest, EveryStepIsOnTheDiskBeforeWhatDependsOnIt) {
  if (run_program({"strace", "-V"}).status != 0) GTEST_SKIP() << "strace is not installed";
  write_file(catalog / "templates/reports/a.tpl", "old a", 1000);
  write_file(catalog / "readme.txt", "old readme", 1000);
  const std::string log = work / "trace";
  const ChildResult r = run_program(
      {"strace", "-f", "-y", "-qq", "-o", log, "-e",
       "trace=fsync,fdatasync,io_submit,renameat,renameat2,unlinkat,write", kXdktool, "install", kit(),
       catalog.path()});
  if (r.status != 0 && has(r.err, "ptrace")) GTEST_SKIP() << "strace may not trace here: " << r.err;
  ASSERT_EQ(0, r.status) << r.err;
  const std::vector<TracedCall> calls = read_trace(read_file(log));
  const auto journal = [](const TracedCall& c, const char* name) {
    return c.name == name && has(c.args, "run/journal>");
  };
  // The journal on disk: synced alone, or with other syncs.
  const auto journalSynced = [&](const TracedCall& c) {
    return journal(c, "fdatasync") || journal(c, "fsync");
  };
  const size_t commit = find_call(calls, 0, [&](const TracedCall& c) {
    return journal(c, "write") && has(c.args, "\"S0:;0\\n\"");
  });
  ASSERT_LT(commit, calls.size());

  // The state folder's own entries (the journal's name) are on disk before
  // the first change of the catalog its records protect.
  const size_t firstChange =
      find_call(calls, 0, [](const TracedCall& c) { return c.name == "renameat2"; });
  ASSERT_LT(firstChange, calls.size());
  EXPECT_LT(find_call(calls, 0, [](const TracedCall& c) {
              return c.name == "fsync" && has(c.args, ".qxr8\\\\run>");
            }), firstChange);

  // A placement: renameat2(STAGE<...>, ".r8...", FOLDER<...>, "name", RENAME_NOREPLACE).
  const auto quoted = [](const std::string& args, size_t from) {
    const size_t open = args.find('"', from) + 1;
    return args.substr(open, args.find('"', open) - open);
  };
  size_t placed = 0;
  for (size_t i = 0; i < commit; ++i) {
    const TracedCall& call = calls[i];
    if (call.name != "renameat2" || !has(call.args, "/stage>, \".r8")) continue;
    ++placed;
    const std::string temporary = quoted(call.args, 0);
    const size_t third = call.args.find(", ", call.args.find(temporary)) + 2;
    const std::string folder = call.args.substr(third, call.args.find('>', third) + 1 - third);
    const std::string name = quoted(call.args, third);
    SCOPED_TRACE(name);
    // The file's data and times, before it takes its name.
    EXPECT_LT(find_call(calls, 0, [&](const TracedCall& c) {
                return c.name == "fsync" && has(c.args, "/" + temporary + ">");
              }), i);
    // Its folder, before the commit.
    EXPECT_LT(find_call(calls, i, [&](const TracedCall& c) {
                return c.name == "fsync" && c.args.find(folder.substr(folder.find('<'))) !=
                                                std::string::npos;
              }), commit);
    // A replaced file is in the backup tree, and that is on disk, before
    // the new copy takes its name.
    const size_t backup = find_call(calls, 0, [&](const TracedCall& c) {
      return c.name == "renameat2" && has(c.args, "/backup") && has(c.args, "\"" + name + "\"");
    });
    if (name == "a.tpl" || name == "readme.txt") {
      ASSERT_LT(backup, i);
      // The backup folder that took it, and every backup folder above it
      // (each was made for it), are on disk before the new copy's name.
      const size_t target = calls[backup].args.find(", ", calls[backup].args.find(name)) + 2;
      std::string folder = calls[backup].args.substr(target, calls[backup].args.find('>', target) -
                                                                 target + 1);
      folder = folder.substr(folder.find('<'));
      for (std::string level = folder; has(level, "run/backup");
           level = level.substr(0, level.rfind('/')) + ">") {
        SCOPED_TRACE(level);
        EXPECT_LT(find_call(calls, backup, [&](const TracedCall& c) {
                    return c.name == "fsync" && has(c.args, level);
                  }), i);
      }
      // And the group's records are on disk before the move: the last
      // journal write before it is synced first.
      size_t records = calls.size();
      for (size_t k = 0; k < backup; ++k) {
        if (journal(calls[k], "write")) records = k;
      }
      ASSERT_LT(records, backup);
      EXPECT_LT(find_call(calls, records, journalSynced), backup);
    }
  }
  // The three files and the kit's record, each by the same rules.
  EXPECT_EQ(4u, placed);
  // The commit is on disk before the first backup goes.
  const size_t firstRemoval = find_call(calls, commit, [](const TracedCall& c) {
    return c.name == "unlinkat" && has(c.args, "run/backup");
  });
  ASSERT_LT(firstRemoval, calls.size());
  EXPECT_LT(find_call(calls, commit, journalSynced), firstRemoval);
}
