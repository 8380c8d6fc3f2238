// Installation runs against the real file system: what is written, what is
// kept, what a failure or a cancel leaves behind, and the posted states.
#include "install/installer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "install/install_data.h"
#include "install/install_plan.h"
#include "install/placement_batch.h"
#include "install/install_process_data.h"
#include "platform/text_encoding.h"
#include "res/string_table.h"
#include "tests/support/child_process.h"
#include "tests/support/file_io.h"
#include "tests/support/file_tree.h"
#include "tests/support/kit_builder.h"
#include "tests/support/sandbox.h"
#include "tests/support/small_tmpfs.h"
#include "tests/support/temp_dir.h"

using namespace test_support;

namespace {

struct State {
  unsigned code;
  std::string text;
  int percent;
  bool operator==(const State& o) const {
    return code == o.code && text == o.text && percent == o.percent;
  }
};

std::ostream& operator<<(std::ostream& out, const State& s) {
  return out << "(" << s.code << ", \"" << s.text << "\", " << s.percent << ")";
}

std::string text_of(const char* id) { return narrow_lib(LoadResString(id)); }

struct RunResult {
  unsigned code;
  std::vector<State> states;
  InstallStats stats;
  Status failure;
};

class InstallerTest : public ::testing::Test {
 protected:
  Sandbox env;
  TempDir work;
  TempDir catalog;

  std::string dest(const std::string& name) const { return catalog / name; }

  // Opens the kit and runs one Installer over it on this thread, recording
  // every posted state. `prepare` may change the opened reader or arm the
  // shared state before the run.
  // `onState` sees each state as it is posted, on the posting thread.
  // Every run is checked against the dry run's plan made just before it:
  // a complete run writes exactly what the plan says, and a plan that
  // stops at an entry never lets the run complete.
  RunResult install(const std::string& kitPath,
                    const std::function<void(KitReader&, InstallProcessData&)>& prepare = {},
                    const std::function<void(InstallProcessData&, const State&)>& onState = {}) {
    KitReader kit;
    EXPECT_EQ(0u, kit.open(widen_lib(kitPath)));
    InstallProcessData data;
    RunResult result{0, {}, {}, {}};
    data.setStateListener([&](unsigned code, const wstring& text, int percent) {
      result.states.push_back(State{code, narrow_lib(text), percent});
      if (onState) onState(data, result.states.back());
    });
    data.init(&kit, widen_lib(catalog.path()));
    if (prepare) prepare(kit, data);
    InstallPlan plan;
    Status refusal;
    plan_install(kit, widen_lib(catalog.path()), plan, refusal);
    Installer installer;
    result.code = installer.run(&data);
    InstallStats stats;
    data.getStats(stats);
    if (result.code == 0) {
      EXPECT_EQ(plan.filesNew, stats.filesNew);
      EXPECT_EQ(plan.filesReplaced, stats.filesReplaced);
      EXPECT_EQ(plan.upToDate, stats.filesUpToDate);
    }
    if (plan.refused()) {
      EXPECT_NE(0u, result.code);
    }
    result.stats = stats;
    data.getFailure(result.failure);
    return result;
  }
};

TEST_F(InstallerTest, FirstInstallWritesEveryFileAndASecondRunWritesNothing) {
  const std::vector<KitFile> files = {
      {"readme.txt", "hello", 1700000000},
      {"reports\\monthly\\sales.tpl", std::string(3 * 1024 * 1024 + 7, 'x'), 1700000100},
      {"reports/monthly/empty.tpl", "", 1700000200},
      {"forms/order.frm", "order form", 1700000300},
  };
  const std::string kit = make_kit(work.path(), "kit", files);

  const RunResult first = install(kit);
  EXPECT_EQ(0u, first.code);
  const std::vector<State> expected = {
      {0, dest("readme.txt"), 0},
      {0, dest("reports/monthly/sales.tpl"), 25},
      {0, dest("reports/monthly/empty.tpl"), 50},
      {0, dest("forms/order.frm"), 75},
      {0, text_of("IDS_INSTALL_FINISH"), 100},
  };
  EXPECT_EQ(expected, first.states);
  EXPECT_EQ("hello", contents_of(dest("readme.txt")));
  EXPECT_EQ(files[1].content, contents_of(dest("reports/monthly/sales.tpl")));
  EXPECT_EQ("", contents_of(dest("reports/monthly/empty.tpl")));
  EXPECT_EQ(1700000000, get_mtime(dest("readme.txt")));
  EXPECT_EQ(1700000100, get_mtime(dest("reports/monthly/sales.tpl")));
  EXPECT_EQ(1700000200, get_mtime(dest("reports/monthly/empty.tpl")));
  EXPECT_EQ(1700000300, get_mtime(dest("forms/order.frm")));
  EXPECT_TRUE(list_tree(env.tmp()).empty());

  // Up to date now: the same kit again touches no file (a write, a move or
  // a change of times would change the inode or the status-change time).
  const auto before = snapshot_tree(catalog.path());
  std::vector<struct timespec> ctimes;
  for (const std::string& name : list_tree(catalog.path())) {
    ctimes.push_back(lstat_of(catalog / name).st_ctim);
  }
  const RunResult second = install(kit);
  EXPECT_EQ(0u, second.code);
  EXPECT_EQ(expected, second.states);
  EXPECT_EQ(before, snapshot_tree(catalog.path()));
  size_t i = 0;
  for (const std::string& name : list_tree(catalog.path())) {
    const struct timespec now = lstat_of(catalog / name).st_ctim;
    EXPECT_TRUE(now.tv_sec == ctimes[i].tv_sec && now.tv_nsec == ctimes[i].tv_nsec) << name;
    ++i;
  }
  EXPECT_TRUE(list_tree(env.tmp()).empty());
}

TEST_F(InstallerTest, OnlyMissingOrOlderFilesAreWritten) {
  write_file(dest("older.txt"), "an old and much longer content", 1000);
  // The kit's time and size: taken for the kit's copy, never read.
  write_file(dest("same.txt"), "KIT BYTES", 5000);
  // The kit's time but not its size (what a power cut before the data
  // reached the disk left): it cannot be the kit's copy.
  write_file(dest("cut.txt"), "", 5000);
  write_file(dest("newer.txt"), "newer than the kit", 9000);
  const ino_t sameInode = lstat_of(dest("same.txt")).st_ino;
  const ino_t newerInode = lstat_of(dest("newer.txt")).st_ino;
  const std::string kit = make_kit(work.path(), "kit",
                                   {{"older.txt", "new", 5000},
                                    {"same.txt", "kit bytes", 5000},
                                    {"cut.txt", "kit bytes", 5000},
                                    {"newer.txt", "kit bytes", 5000},
                                    {"zero.txt", "", 5000}});
  EXPECT_EQ(0u, install(kit).code);
  // Replaced, and cut to the entry's size.
  EXPECT_EQ("new", contents_of(dest("older.txt")));
  EXPECT_EQ(5000, get_mtime(dest("older.txt")));
  EXPECT_EQ("KIT BYTES", contents_of(dest("same.txt")));
  EXPECT_EQ(sameInode, lstat_of(dest("same.txt")).st_ino);
  EXPECT_EQ("kit bytes", contents_of(dest("cut.txt")));
  EXPECT_EQ("newer than the kit", contents_of(dest("newer.txt")));
  EXPECT_EQ(newerInode, lstat_of(dest("newer.txt")).st_ino);
  EXPECT_EQ(9000, get_mtime(dest("newer.txt")));
  EXPECT_EQ("", contents_of(dest("zero.txt")));
  EXPECT_EQ(5000, get_mtime(dest("zero.txt")));
  EXPECT_TRUE(list_tree(env.tmp()).empty());
}

TEST_F(InstallerTest, AnEntryTimeWithAFractionOfASecondIsWrittenAgainOnEveryRun) {
  const std::string kit = make_kit(work.path(), "kit",
                                   {{"half.txt", "half", 5000},
                                    {"whole.txt", "whole", 5000},
                                    {"more.txt", "more", 5000}});
  // Half a second after the whole second of the first entry.
  const auto addHalfSecond = [](KitReader& reader, InstallProcessData&) {
    _FILETIME& time = reader.entries[0].lastWriteTime;
    const uint64_t ticks =
        ((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime) + 5000000;
    time.dwLowDateTime = static_cast<uint32_t>(ticks);
    time.dwHighDateTime = static_cast<uint32_t>(ticks >> 32);
  };
  const RunResult first = install(kit, addHalfSecond);
  ASSERT_EQ(0u, first.code);
  const std::vector<State> expected = {
      {0, dest("half.txt"), 0},
      {0, dest("whole.txt"), 33},
      {0, dest("more.txt"), 66},
      {0, text_of("IDS_INSTALL_FINISH"), 100},
  };
  EXPECT_EQ(expected, first.states);
  // Kept to the second: the installed copy is older than the kit's time.
  EXPECT_EQ(5000, get_mtime(dest("half.txt")));

  const ino_t wholeInode = lstat_of(dest("whole.txt")).st_ino;
  // Something the run must replace again, so that a rewrite is visible.
  write_file(dest("half.txt"), "changed by the user at the same second", 5000);
  EXPECT_EQ(0u, install(kit, addHalfSecond).code);
  EXPECT_EQ("half", contents_of(dest("half.txt")));
  EXPECT_EQ(5000, get_mtime(dest("half.txt")));
  EXPECT_EQ(wholeInode, lstat_of(dest("whole.txt")).st_ino);
  EXPECT_TRUE(list_tree(env.tmp()).empty());
}

TEST_F(InstallerTest, AJournalThatCannotStartPostsItsCodeAtZeroAndWritesNothing) {
  write_file(dest("a.txt"), "old a", 1000);
  const std::string kit = make_kit(work.path(), "kit", {{"a.txt", "new a", 5000}, {"b.txt", "b", 5000}});
  // Something that is not a state folder stands where the run's must go.
  write_file(dest(".qxr8\\run"), "in the way", 1000);
  const auto before = snapshot_tree(catalog.path());
  const RunResult run = install(kit);
  EXPECT_EQ(183u, run.code);
  const std::vector<State> expected = {{run.code, text_of("IDS_INSTALL_ERROR"), 0}};
  EXPECT_EQ(expected, run.states);
  EXPECT_EQ(before, snapshot_tree(catalog.path()));
}

TEST_F(InstallerTest, AKitWithoutEntriesFinishesAtOnce) {
  const std::string kit = make_kit(work.path(), "empty", {});
  const RunResult run = install(kit);
  EXPECT_EQ(0u, run.code);
  const std::vector<State> expected = {{0, text_of("IDS_INSTALL_FINISH"), 100}};
  EXPECT_EQ(expected, run.states);
  // Nothing but the kit's record, which lists no file.
  const std::string records = ".qxr8\\kits-" + std::to_string(geteuid()) + "/";
  EXPECT_EQ((std::vector<std::string>{records, records + "Product.kit"}),
            list_tree(catalog.path()));
  EXPECT_TRUE(list_tree(env.tmp()).empty());
}

TEST_F(InstallerTest, WhatIsNotAFileAtADestinationEndsTheRunUntouched) {
  TempDir outside;
  write_file(outside / "target.txt", "outside the catalog", 1000);
  make_dirs(outside / "dir");
  write_file(outside / "dir/inner.txt", "inside a linked directory", 1000);
  struct Case {
    const char* what;
    std::function<void(const std::string&)> plant;
  };
  const std::vector<Case> cases = {
      {"directory", [](const std::string& p) {
         make_dirs(p);
         write_file(p + "/mine.txt", "the user's", 1000);
       }},
      {"fifo", [](const std::string& p) { ASSERT_EQ(0, mkfifo(p.c_str(), 0644)); }},
      {"link to a directory",
       [&outside](const std::string& p) { ASSERT_EQ(0, symlink((outside / "dir").c_str(), p.c_str())); }},
  };
  const std::string kit =
      make_kit(work.path(), "kit", {{"first.txt", "first", 5000}, {"target", "kit bytes", 5000}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir fresh;
    c.plant(fresh / "target");
    write_file(fresh / "first.txt", "old first", 1000);
    const auto before = snapshot_tree(fresh.path());
    const auto outsideBefore = snapshot_tree(outside.path());

    KitReader reader;
    ASSERT_EQ(0u, reader.open(widen_lib(kit)));
    InstallProcessData data;
    data.init(&reader, widen_lib(fresh.path()));
    Installer installer;
    // A FIFO must not be opened: the run would wait for a writer forever.
    EXPECT_EQ(183u, installer.run(&data));
    EXPECT_EQ(before, snapshot_tree(fresh.path()));
    EXPECT_EQ(outsideBefore, snapshot_tree(outside.path()));
    EXPECT_FALSE(file_exists(outside / "none"));
    EXPECT_TRUE(list_tree(env.tmp()).empty());
  }
}

TEST_F(InstallerTest, ADanglingLinkAtADestinationIsReplacedLikeAFileAndPutBack) {
  TempDir outside;
  ASSERT_EQ(0, symlink((outside / "none").c_str(), dest("target").c_str()));
  const auto before = snapshot_tree(catalog.path());
  const std::string kit =
      make_kit(work.path(), "kit", {{"target", "kit bytes", 5000}, {"second.txt", "s", 5000}});
  const RunResult failed = install(kit, [](KitReader& reader, InstallProcessData&) {
    reader.entries[1].size = 0x7FFFFFF0u;
  });
  EXPECT_EQ(13u, failed.code);
  EXPECT_EQ(before, snapshot_tree(catalog.path()));

  EXPECT_EQ(0u, install(kit).code);
  EXPECT_TRUE(S_ISREG(lstat_of(dest("target")).st_mode));
  EXPECT_EQ("kit bytes", contents_of(dest("target")));
  EXPECT_FALSE(file_exists(outside / "none"));
  EXPECT_TRUE(list_tree(env.tmp()).empty());
}

TEST_F(InstallerTest, OneFileUnderTwoNamesIsBackedUpOnceAndComesBack) {
  write_file(dest("sub/f"), "the user's only copy", 1000);
  ASSERT_EQ(0, symlink("sub", dest("dl").c_str()));
  const auto before = snapshot_tree(catalog.path());
  // The second name is newer than the run's own first copy, so the run
  // writes the same file twice; the third entry fails.
  const std::string kit = make_kit(
      work.path(), "kit", {{"dl/f", "first", 5000}, {"sub/f", "second", 6000}, {"z.txt", "z", 5000}});
  const RunResult failed = install(kit, [](KitReader& reader, InstallProcessData&) {
    reader.entries[2].size = 0x7FFFFFF0u;
  });
  EXPECT_EQ(13u, failed.code);
  EXPECT_EQ(before, snapshot_tree(catalog.path()));
  EXPECT_TRUE(list_tree(env.tmp()).empty());
}

TEST_F(InstallerTest, ADotInAKitNameLeavesNoDirectoryBehindAfterAFailure) {
  const std::string kit = make_kit(work.path(), "kit", {{"n/x", "x", 5000}, {"z.txt", "z", 5000}});
  const RunResult failed = install(kit, [](KitReader& reader, InstallProcessData&) {
    reader.entries[0].name = u"n/./x";
    reader.entries[1].size = 0x7FFFFFF0u;
  });
  EXPECT_EQ(13u, failed.code);
  EXPECT_TRUE(list_tree(catalog.path()).empty());
}

// Runs `args` as the other user (uid and gid 65534, through setpriv); true
// when it exited 0.
bool run_as_nobody(const std::vector<std::string>& args) {
  ChildOptions options;
  options.asOtherUser = true;
  return run_program(args, options).status == 0;
}

TEST_F(InstallerTest, ALinkPlantedByAnotherUserIsNeverFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as a second user";
  // A catalog shared with a co-user, as a sticky world-writable directory.
  ASSERT_EQ(0, chmod(catalog.path().c_str(), 01777));
  TempDir outside;
  ASSERT_EQ(0, chmod(outside.path().c_str(), 0777));
  write_file(outside / "target.txt", "not the kit's", 1000);
  ASSERT_EQ(0, chmod((outside / "target.txt").c_str(), 0666));
  if (!run_as_nobody({"ln", "-s", outside / "target.txt", dest("file.txt")}) ||
      !run_as_nobody({"ln", "-s", outside.path(), dest("dir")})) {
    GTEST_SKIP() << "setpriv could not run a command as uid 65534";
  }
  const auto outsideBefore = snapshot_tree(outside.path());

  // A file link of the co-user is replaced as a link, never written through.
  const std::string fileKit = make_kit(work.path(), "file", {{"file.txt", "kit bytes", 5000}});
  EXPECT_EQ(0u, install(fileKit).code);
  EXPECT_TRUE(S_ISREG(lstat_of(dest("file.txt")).st_mode));
  EXPECT_EQ("kit bytes", contents_of(dest("file.txt")));

  // A directory link of the co-user does not lead the run out of the catalog.
  const std::string dirKit = make_kit(work.path(), "dir", {{"dir/new.txt", "kit bytes", 5000}});
  const RunResult refused = install(dirKit);
  EXPECT_EQ(5u, refused.code);
  EXPECT_EQ(outsideBefore, snapshot_tree(outside.path()));
  EXPECT_TRUE(S_ISLNK(lstat_of(dest("dir")).st_mode));
}

TEST_F(InstallerTest, ALinkToAnOlderFileIsReplacedAsALinkAndRestoredAsOne) {
  TempDir outside;
  write_file(outside / "shared.txt", "shared, outside", 1000);
  ASSERT_EQ(0, symlink((outside / "shared.txt").c_str(), dest("linked.txt").c_str()));
  ASSERT_EQ(0, symlink((outside / "shared.txt").c_str(), dest("again.txt").c_str()));
  const auto outsideBefore = snapshot_tree(outside.path());
  const auto before = snapshot_tree(catalog.path());

  // The second entry fails to copy: the first link must come back.
  const std::string kit =
      make_kit(work.path(), "kit", {{"linked.txt", "kit bytes", 5000}, {"again.txt", "again", 5000}});
  const RunResult failed = install(kit, [](KitReader& reader, InstallProcessData&) {
    reader.entries[1].size = 0x7FFFFFF0u;
  });
  EXPECT_EQ(13u, failed.code);
  EXPECT_EQ(before, snapshot_tree(catalog.path()));
  EXPECT_EQ(outsideBefore, snapshot_tree(outside.path()));

  // A complete run puts regular files where the links were; what they
  // pointed to is left alone.
  EXPECT_EQ(0u, install(kit).code);
  EXPECT_TRUE(S_ISREG(lstat_of(dest("linked.txt")).st_mode));
  EXPECT_EQ("kit bytes", contents_of(dest("linked.txt")));
  EXPECT_EQ(outsideBefore, snapshot_tree(outside.path()));
  EXPECT_TRUE(list_tree(env.tmp()).empty());
}

// The catalog before the run: files the kit replaces, a file it keeps, a
// directory it adds to, and room for directories it creates.
void make_catalog(const TempDir& catalog) {
  write_file(catalog / "old.txt", "old contents, longer than the new", 1000);
  write_file(catalog / "docs/manual.txt", "the user's manual", 1100);
  write_file(catalog / "docs/replaced.txt", "to be replaced", 1200);
  make_dirs(catalog / "empty");
}

const std::vector<KitFile>& fault_kit_files() {
  static const std::vector<KitFile> files = {
      {"old.txt", "new old.txt", 5000},            // replaces a file
      {"docs\\added.txt", "added", 5000},          // adds to an existing directory
      {"fresh/a.txt", "a", 5000},                  // creates a directory
      {"fresh/b.txt", "b", 5000},                  // adds to the created directory
      {"docs/replaced.txt", "replacement", 5000},  // replaces in a subdirectory
      {"docs/sub/c.txt", "c", 5000},               // creates below an existing one
      {"empty/d.txt", "d", 5000},                  // adds to an empty directory
      {"old.txt", "newer again", 6000},            // the same file a second time
  };
  return files;
}

enum class Injection { kCopyFails, kDirectoryAtDestination, kFileWhereDirectoryNeeded };

TEST_F(InstallerTest, AFailureAtAnyEntryLeavesTheCatalogAsItWas) {
  const std::vector<KitFile>& files = fault_kit_files();
  const std::string kit = make_kit(work.path(), "faults", files);
  const unsigned n = files.size();
  int runs = 0;
  for (unsigned k = 0; k < n; ++k) {
    for (Injection injection : {Injection::kCopyFails, Injection::kDirectoryAtDestination,
                                Injection::kFileWhereDirectoryNeeded}) {
      SCOPED_TRACE("entry " + std::to_string(k) + ", injection " +
                   std::to_string(static_cast<int>(injection)));
      TempDir fresh;
      std::string name = files[k].name;
      for (char& c : name) {
        if (c == '\\') c = '/';
      }
      const std::string parent = name.find('/') == std::string::npos
                                     ? std::string()
                                     : name.substr(0, name.rfind('/'));
      unsigned expectedCode = 0;
      std::function<void(KitReader&, InstallProcessData&)> prepare;
      switch (injection) {
        case Injection::kCopyFails:
          // The entry claims more bytes than the unpacked kit holds: the copy
          // fails after writing part of the file.
          prepare = [k](KitReader& reader, InstallProcessData&) {
            reader.entries[k].size = 0x7FFFFFF0u;
          };
          expectedCode = 13;
          break;
        case Injection::kDirectoryAtDestination: {
          // Possible only where no earlier entry writes the same file.
          bool earlier = false;
          for (unsigned j = 0; j < k; ++j) earlier |= files[j].name == files[k].name;
          if (earlier) continue;
          expectedCode = 183;
          break;
        }
        case Injection::kFileWhereDirectoryNeeded:
          if (parent.empty() || parent == "docs" || parent == "empty" || k == 3) continue;
          expectedCode = 3;
          break;
      }

      // The catalog of this run lives in `fresh`; `catalog` is swapped for it.
      make_catalog(fresh);
      if (injection == Injection::kDirectoryAtDestination) {
        unlink((fresh / name).c_str());
        make_dirs(fresh / name);
        write_file(fresh / (name + "/inside.txt"), "inside the user's directory", 1300);
      }
      if (injection == Injection::kFileWhereDirectoryNeeded) {
        write_file(fresh / parent, "a file where a directory is needed", 1400);
      }
      const auto before = snapshot_tree(fresh.path());

      KitReader reader;
      ASSERT_EQ(0u, reader.open(widen_lib(kit)));
      InstallProcessData data;
      std::vector<State> states;
      data.setStateListener([&states](unsigned code, const wstring& text, int percent) {
        states.push_back(State{code, narrow_lib(text), percent});
      });
      data.init(&reader, widen_lib(fresh.path()));
      if (prepare) prepare(reader, data);
      Installer installer;
      const unsigned code = installer.run(&data);
      ++runs;

      EXPECT_EQ(expectedCode, code);
      const int percent = static_cast<int>(k * 100 / n);
      ASSERT_GE(states.size(), 2u);
      EXPECT_EQ((State{0, fresh / name, percent}), states[states.size() - 2]);
      EXPECT_EQ((State{expectedCode, text_of("IDS_INSTALL_ERROR"), percent}), states.back());
      EXPECT_EQ(before, snapshot_tree(fresh.path()));
      EXPECT_TRUE(list_tree(env.tmp()).empty());
    }
  }
  EXPECT_GE(runs, 2 * static_cast<int>(n));
}

TEST_F(InstallerTest, AFileThatCannotBeBackedUpIsNeitherReplacedNorLost) {
  write_file(dest("sub/old.txt"), "the user's only copy", 1000);
  const std::string kit =
      make_kit(work.path(), "kit", {{"sub/old.txt", "kit bytes", 5000}, {"next.txt", "n", 5000}});
  // Just before the entry is handled, something stands in the backup tree
  // where the backup needs the directory "sub".
  const RunResult run = install(kit, {}, [this](InstallProcessData&, const State& state) {
    if (state.text == dest("sub/old.txt")) {
      write_file(dest(".qxr8\\run/backup/sub"), "in the way", 2000);
    }
  });
  EXPECT_NE(0u, run.code);
  ASSERT_FALSE(run.states.empty());
  EXPECT_EQ(run.code, run.states.back().code);
  EXPECT_EQ(0, run.states.back().percent);
  EXPECT_EQ("the user's only copy", contents_of(dest("sub/old.txt")));
  EXPECT_EQ(1000, get_mtime(dest("sub/old.txt")));
}

TEST_F(InstallerTest, AFolderOnAnotherFileSystemIsRefusedAndTheCatalogPutBack) {
  write_file(dest("a.txt"), "old a", 1000);
  SmallTmpfs mounted(dest("mnt"), 64 * 1024);
  if (!mounted.ok()) GTEST_SKIP() << mounted.reason();
  const auto before = snapshot_tree(catalog.path());
  const RunResult run = install(make_kit(work.path(), "kit", {{"a.txt", "new a", 5000},
                                                               {"mnt/b.txt", "b", 5000}}));
  EXPECT_EQ(87u, run.code);
  EXPECT_EQ(widen_lib(dest("mnt/")), run.failure.path);
  EXPECT_NE(wstring::npos, run.failure.note.find(u"another file system"));
  EXPECT_EQ(before, snapshot_tree(catalog.path()));
}

TEST_F(InstallerTest, AFailureIsPostedBeforeTheRollbackRuns) {
  write_file(dest("a.txt"), "old a", 1000);
  make_dirs(dest("blocked/user"));
  const auto before = snapshot_tree(catalog.path());
  // A whole group is put in place before the entry that fails (a group
  // syncs while the next one is staged, and is put in place after it).
  std::vector<KitFile> files = {{"a.txt", "new a", 5000}};
  while (files.size() < 2 * PlacementBatch::kMaxFiles) {
    files.push_back({"f" + std::to_string(files.size()), "f", 5000});
  }
  files.push_back({"blocked", "x", 5000});
  const std::string kit = make_kit(work.path(), "kit", files);
  std::string atPost;
  bool backupAtPost = false;
  const RunResult run = install(kit, {}, [&](InstallProcessData&, const State& state) {
    if (state.code == 0) return;
    atPost = contents_of(dest("a.txt"));
    backupAtPost = file_exists(dest(".qxr8\\run/backup/a.txt"));
  });
  EXPECT_EQ(183u, run.code);
  const int percent = static_cast<int>((files.size() - 1) * 100 / files.size());
  EXPECT_EQ((State{183, text_of("IDS_INSTALL_ERROR"), percent}), run.states.back());
  // The GUI may show the error while the worker is still restoring.
  EXPECT_EQ("new a", atPost);
  EXPECT_TRUE(backupAtPost);
  EXPECT_EQ(before, snapshot_tree(catalog.path()));
  EXPECT_TRUE(list_tree(env.tmp()).empty());
}

TEST_F(InstallerTest, ACancelRollsBackAndPostsItsOwnFinalState) {
  write_file(dest("a.txt"), "original a", 1000);
  const auto before = snapshot_tree(catalog.path());
  const std::string kit = make_kit(
      work.path(), "kit", {{"a.txt", "new a", 5000}, {"dir/b.txt", "b", 5000}, {"c.txt", "c", 5000}});
  // Requested while entry 1 is handled: seen once that file is written.
  const RunResult run = install(kit, {}, [](InstallProcessData& data, const State& state) {
    if (state.percent == 33) data.setCancel(true);
  });
  EXPECT_EQ(1223u, run.code);
  const std::vector<State> expected = {
      {0, dest("a.txt"), 0},
      {0, dest("dir/b.txt"), 33},
      {1223, text_of("IDS_CANCEL_FINISH"), 33},
  };
  EXPECT_EQ(expected, run.states);
  EXPECT_EQ(before, snapshot_tree(catalog.path()));
  EXPECT_TRUE(list_tree(env.tmp()).empty());
}

TEST_F(InstallerTest, ACancelWhileOnlyUpToDateFilesAreSkippedChangesNothing) {
  const std::string kit = make_kit(work.path(), "kit", {{"a.txt", "a", 5000}, {"b.txt", "b", 5000}});
  ASSERT_EQ(0u, install(kit).code);
  const RunResult run =
      install(kit, [](KitReader&, InstallProcessData& data) { data.setCancel(true); });
  EXPECT_EQ(0u, run.code);
  EXPECT_EQ(100, run.states.back().percent);
}

}  // namespace

TEST_F(InstallerTest, NamesThatMeetInOnePlaceArePlannedAsTheyAreInstalled) {
  struct Case {
    std::vector<KitFile> files;
    unsigned code;
    unsigned long filesNew, filesReplaced, upToDate;
  };
  const std::vector<Case> cases = {
      {{{"sub/x", "1", 1700000000}, {"sub\\x", "2", 1700000000}}, 0, 1, 0, 1},
      {{{"a/./b", "1", 1700000000}, {"a/b", "2", 1700000000}}, 0, 1, 0, 1},
      {{{"x", "1", 1700000000}, {"x", "2", 1700000000}}, 0, 1, 0, 1},
      {{{"x", "1", 1700000000}, {"x", "2", 1700000100}}, 0, 1, 1, 0},
      {{{"a", "1", 1700000000}, {"a/b", "2", 1700000000}}, 3, 0, 0, 0},
      {{{"a/b", "1", 1700000000}, {"a", "2", 1700000000}}, 183, 0, 0, 0},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    remove_tree(catalog.path());
    make_dirs(catalog.path());
    const std::string kitPath = make_kit(work.path(), "kit" + std::to_string(i), cases[i].files);
    const RunResult run = install(kitPath);
    EXPECT_EQ(cases[i].code, run.code) << i;
    InstallPlan plan;
    Status refusal;
    KitReader kit;
    ASSERT_EQ(0u, kit.open(widen_lib(kitPath)));
    remove_tree(catalog.path());
    EXPECT_EQ(cases[i].code, plan_install(kit, widen_lib(catalog.path()), plan, refusal)) << i;
    if (run.code != 0) continue;
    EXPECT_EQ(cases[i].filesNew, run.stats.filesNew) << i;
    EXPECT_EQ(cases[i].filesReplaced, run.stats.filesReplaced) << i;
    EXPECT_EQ(cases[i].upToDate, run.stats.filesUpToDate) << i;
  }
}
