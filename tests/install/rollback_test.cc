// The rollback journal against the real file system, in a private TMPDIR.
#include "install/rollback.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <map>
#include <string>

#include "install/run_recovery.h"
#include "platform/directory.h"
#include "platform/text_encoding.h"
#include "tests/support/child_process.h"
#include "tests/support/file_io.h"
#include "tests/support/file_tree.h"
#include "tests/support/kit_builder.h"
#include "tests/support/private_env.h"
#include "tests/support/sandbox.h"
#include "tests/support/small_tmpfs.h"
#include "tests/support/temp_dir.h"

using namespace test_support;

namespace {

wstring W(const std::string& text) { return widen_lib(text); }

class RollbackTest : public ::testing::Test {
 protected:
  Sandbox env;
  TempDir catalog;
  Rollback journal;

  std::string target() const { return catalog.path() + "/"; }
  // The catalog as its user sees it while a run goes on: without the run's
  // own state folder.
  std::map<std::string, NodeState> userTree() const {
    auto tree = snapshot_tree(catalog.path());
    for (auto it = tree.begin(); it != tree.end();) {
      it = it->first.rfind(".qxr8\\run", 0) == 0 ? tree.erase(it) : std::next(it);
    }
    return tree;
  }
  std::string backupDir() const { return narrow_lib(journal.records().back().backupDir); }
};

TEST_F(RollbackTest, StartMakesAPrivateStateFolderInTheCatalogThatStopRemoves) {
  ASSERT_EQ(0u, journal.start(W(target())));
  const std::string state = catalog / ".qxr8\\run";
  EXPECT_EQ(state + "/backup/", backupDir());
  const struct stat st = lstat_of(state);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(0700u, st.st_mode & 07777);
  EXPECT_TRUE(file_exists(state + "/journal"));
  EXPECT_TRUE(list_tree(env.tmp()).empty());

  // Success throws the state away and nothing else of the catalog.
  write_file(catalog / "kept.txt", "kept", 1000);
  EXPECT_EQ(0u, journal.stop());
  EXPECT_EQ(std::vector<std::string>{"kept.txt"}, list_dir(catalog.path()));

  // A state folder that stands (a dead run not undone) is never taken over.
  make_dirs(state + "/backup");
  write_file(state + "/backup/only-copy.txt", "the user's", 1000);
  Rollback second;
  EXPECT_EQ(183u, second.start(W(target())));
  EXPECT_EQ("the user's", contents_of(state + "/backup/only-copy.txt"));
}

TEST_F(RollbackTest, StoreMovesAFileAndTheFirstBackupOfAPathWins) {
  write_file(catalog / "a/b/old.txt", "original", 1111);
  ASSERT_EQ(0u, journal.start(W(target())));

  const wstring path = W(catalog / "a/b/old.txt");
  ASSERT_EQ(0u, journal.storeRBFile(path));
  EXPECT_FALSE(file_exists(catalog / "a/b/old.txt"));
  EXPECT_EQ("original", contents_of(backupDir() + "a/b/old.txt"));
  EXPECT_EQ(1111, get_mtime(backupDir() + "a/b/old.txt"));

  // The run writes its own copy; a second backup of the path must not
  // replace the original in the backup tree.
  write_file(catalog / "a/b/old.txt", "run's first copy", 2222);
  EXPECT_EQ(0u, journal.storeRBFile(path));
  EXPECT_EQ("original", contents_of(backupDir() + "a/b/old.txt"));

  journal.rollback(5);
  EXPECT_EQ("original", contents_of(catalog / "a/b/old.txt"));
  EXPECT_EQ(1111, get_mtime(catalog / "a/b/old.txt"));
  EXPECT_TRUE(list_tree(env.tmp()).empty());
}

TEST_F(RollbackTest, StoreOfAMissingFileMakesTheBackupDirectoriesAndAnswers2) {
  ASSERT_EQ(0u, journal.start(W(target())));
  EXPECT_EQ(2u, journal.storeRBFile(W(catalog / "x/y/new.txt")));
  EXPECT_TRUE(S_ISDIR(lstat_of(backupDir() + "x/y").st_mode));
  EXPECT_FALSE(file_exists(catalog / "x"));
}

TEST_F(RollbackTest, AFileWhoseBackupDirectoryCannotBeMadeIsNeverReadAsMissing) {
  write_file(catalog / "sub/old.txt", "the user's only copy", 1111);
  ASSERT_EQ(0u, journal.start(W(target())));
  // A regular file where the backup tree needs the directory "sub".
  write_file(backupDir() + "sub", "in the way", 2222);

  // 2 or 3 would tell the installer there is nothing to keep, and it would
  // overwrite the file and delete it on a rollback.
  const unsigned code = journal.storeRBFile(W(catalog / "sub/old.txt"));
  EXPECT_NE(0u, code);
  EXPECT_NE(2u, code);
  EXPECT_NE(3u, code);
  EXPECT_EQ("the user's only copy", contents_of(catalog / "sub/old.txt"));
  EXPECT_EQ(1111, get_mtime(catalog / "sub/old.txt"));

  // Nothing stands at a missing path: there 3 still means nothing to keep.
  EXPECT_EQ(3u, journal.storeRBFile(W(catalog / "sub/new.txt")));
}

TEST_F(RollbackTest, AMoveToAnotherFileSystemThatFailsHalfwayLeavesNoPartialBackup) {
  // A backup on another file system (a folder of the catalog mounted from
  // elsewhere), where moving means copying: a small memory file system as
  // the backup tree, full before the copy out of the catalog is done.
  const std::string original(512 * 1024, 'o');
  write_file(catalog / "d/big.txt", original, 1111);
  ASSERT_EQ(0u, journal.start(W(target())));
  SmallTmpfs small(backupDir(), 128 * 1024);
  if (!small.ok()) GTEST_SKIP() << small.reason();
  const unsigned code = journal.storeRBFile(W(catalog / "d/big.txt"));
  const bool debris = file_exists(backupDir() + "d/big.txt");
  journal.rollback(code);

  EXPECT_EQ(87u, code);
  EXPECT_FALSE(debris);
  EXPECT_EQ(original, contents_of(catalog / "d/big.txt"));
  EXPECT_EQ(1111, get_mtime(catalog / "d/big.txt"));
  EXPECT_TRUE(list_tree(small.path()).empty());
}

TEST_F(RollbackTest, StoreRefusesWhatIsNotAFileAndNeverMovesIt) {
  make_dirs(catalog / "dir/inner");
  write_file(catalog / "dir/inner/keep.txt", "user data", 1000);
  ASSERT_EQ(0, mkfifo((catalog / "fifo").c_str(), 0644));
  make_dirs(catalog / "outside");
  ASSERT_EQ(0, symlink("outside", (catalog / "dirlink").c_str()));
  ASSERT_EQ(0, symlink("nowhere", (catalog / "dangling").c_str()));
  const auto before = snapshot_tree(catalog.path());

  ASSERT_EQ(0u, journal.start(W(target())));
  EXPECT_EQ(183u, journal.storeRBFile(W(catalog / "dir")));
  EXPECT_EQ(183u, journal.storeRBFile(W(catalog / "fifo")));
  EXPECT_EQ(183u, journal.storeRBFile(W(catalog / "dirlink")));
  EXPECT_EQ(before, userTree());
  // Nothing outside the catalog is taken for one of its files.
  EXPECT_EQ(87u, journal.storeRBFile(W(env.home() + "/file")));
  // A dangling link is kept like a file, and comes back as a link.
  EXPECT_EQ(0u, journal.storeRBFile(W(catalog / "dangling")));
  EXPECT_FALSE(file_exists(catalog / "dangling"));

  journal.rollback(1);
  EXPECT_EQ(before, snapshot_tree(catalog.path()));
}

TEST_F(RollbackTest, AFileLinkIsBackedUpAndRestoredAsALink) {
  write_file(catalog / "real.txt", "pointed to", 1000);
  ASSERT_EQ(0, symlink("real.txt", (catalog / "link.txt").c_str()));
  ASSERT_EQ(0u, journal.start(W(target())));

  ASSERT_EQ(0u, journal.storeRBFile(W(catalog / "link.txt")));
  EXPECT_TRUE(S_ISLNK(lstat_of(backupDir() + "link.txt").st_mode));
  write_file(catalog / "link.txt", "the run's file", 2000);

  journal.rollback(1);
  EXPECT_TRUE(S_ISLNK(lstat_of(catalog / "link.txt").st_mode));
  EXPECT_EQ("pointed to", contents_of(catalog / "link.txt"));
  EXPECT_EQ(1000, get_mtime(catalog / "real.txt"));
}

TEST_F(RollbackTest, MakeDirectoryTreeJournalsOnlyWhatThisCallCreated) {
  make_dirs(catalog / "exists");
  ASSERT_EQ(0u, journal.start(W(target())));
  const size_t before = journal.records().back().createdDirs.size();

  EXPECT_EQ(0u, journal.makeDirectoryTree(W(catalog / "exists")));
  EXPECT_EQ(before, journal.records().back().createdDirs.size());
  EXPECT_EQ(0u, journal.makeDirectoryTree(W(catalog / "p/q/r")));
  ASSERT_EQ(before + 1, journal.records().back().createdDirs.size());
  EXPECT_EQ(W(catalog / "p/q/r"), journal.records().back().createdDirs.back());
  EXPECT_EQ(0u, journal.makeDirectoryTree(W("/")));

  // Below a regular file nothing can be made.
  write_file(catalog / "plain", "x", 1000);
  EXPECT_EQ(3u, journal.makeDirectoryTree(W(catalog / "plain/sub")));

  write_file(catalog / "p/q/r/f.txt", "run's", 1000);
  journal.rollback(1);
  // The journaled directory goes with its contents; the parents made on the
  // way stay, empty; what existed before stays.
  EXPECT_FALSE(file_exists(catalog / "p/q/r"));
  EXPECT_TRUE(file_exists(catalog / "p/q"));
  EXPECT_TRUE(file_exists(catalog / "exists"));
  EXPECT_TRUE(file_exists(catalog / "plain"));
}

TEST_F(RollbackTest, RollbackRestoresNestedFilesAndRemovesWhatTheRunAdded) {
  write_file(catalog / "one/two/deep.txt", "deep original", 1234);
  write_file(catalog / "top.txt", "top original", 4321);
  make_dirs(catalog / "one/existing");
  const auto before = snapshot_tree(catalog.path());

  ASSERT_EQ(0u, journal.start(W(target())));
  ASSERT_EQ(0u, journal.storeRBFile(W(catalog / "one/two/deep.txt")));
  write_file(catalog / "one/two/deep.txt", "replaced", 9999);
  ASSERT_EQ(0u, journal.storeRBFile(W(catalog / "top.txt")));
  write_file(catalog / "top.txt", "replaced too, and longer", 9999);
  ASSERT_EQ(0u, journal.makeDirectoryTree(W(catalog / "fresh")));
  write_file(catalog / "fresh/new.txt", "new", 9999);
  journal.addRBFile(W(catalog / "one/existing/added.txt"));
  write_file(catalog / "one/existing/added.txt", "added to an old directory", 9999);

  EXPECT_EQ(1223u, journal.rollback(1223));
  EXPECT_EQ(before, snapshot_tree(catalog.path()));
  EXPECT_TRUE(list_tree(env.tmp()).empty());
}

TEST_F(RollbackTest, TreeWalksNeverFollowLinks) {
  TempDir outside;
  write_file(outside / "precious/file.txt", "must survive", 1000);
  ASSERT_EQ(0u, journal.start(W(target())));
  ASSERT_EQ(0u, journal.makeDirectoryTree(W(catalog / "created")));
  ASSERT_EQ(0, symlink((outside / "precious").c_str(), (catalog / "created/link").c_str()));
  // A link in the backup tree, as a backed-up file link would be.
  ASSERT_EQ(0, symlink((outside / "precious").c_str(), (backupDir() + "dirlink").c_str()));

  journal.rollback(1);
  EXPECT_EQ("must survive", contents_of(outside / "precious/file.txt"));
  EXPECT_FALSE(file_exists(catalog / "created"));
  // The link went back to the catalog as itself.
  EXPECT_TRUE(S_ISLNK(lstat_of(catalog / "dirlink").st_mode));
  EXPECT_TRUE(list_tree(env.tmp()).empty());

  // Removing a link to a directory, even named with a slash, removes the link.
  EXPECT_EQ(0u, journal.removeDirectoryTree(W(catalog / "dirlink/")));
  EXPECT_FALSE(file_exists(catalog / "dirlink"));
  EXPECT_EQ("must survive", contents_of(outside / "precious/file.txt"));
}

TEST_F(RollbackTest, ABackupThatCannotGoBackIsKept) {
  write_file(catalog / "d/f.txt", "only copy", 1000);
  ASSERT_EQ(0u, journal.start(W(target())));
  ASSERT_EQ(0u, journal.storeRBFile(W(catalog / "d/f.txt")));
  const std::string backup = backupDir();
  // Something replaced the file's directory: the move back cannot succeed.
  ASSERT_EQ(0, rmdir((catalog / "d").c_str()));
  write_file(catalog / "d", "a file now", 2000);

  journal.rollback(1);
  EXPECT_EQ("only copy", contents_of(backup + "d/f.txt"));
}

TEST_F(RollbackTest, WithoutABackupTreeOnlyCreatedDirectoriesAreRemoved) {
  write_file(catalog / "keep.txt", "kept", 1000);
  ASSERT_EQ(0u, journal.start(u""));
  EXPECT_TRUE(journal.records().back().backupDir.empty());
  EXPECT_EQ(87u, journal.storeRBFile(W(catalog / "keep.txt")));
  ASSERT_EQ(0u, journal.makeDirectoryTree(W(catalog / "made")));
  journal.rollback(2);
  EXPECT_FALSE(file_exists(catalog / "made"));
  EXPECT_EQ("kept", contents_of(catalog / "keep.txt"));
  EXPECT_TRUE(list_tree(env.tmp()).empty());
}

TEST_F(RollbackTest, RemoveRBFileDropsTheFirstEqualEntryOnly) {
  ASSERT_EQ(0u, journal.start(W(target())));
  journal.addRBFile(u"/a");
  journal.addRBFile(u"/b");
  journal.addRBFile(u"/a");
  journal.removeRBFile(u"/a");
  journal.removeRBFile(u"/nothing");
  const std::vector<wstring> expected = {u"/b", u"/a"};
  EXPECT_EQ(expected, journal.records().back().addedFiles);
  journal.stop();
}

}  // namespace

namespace {

// A dead run's state folder in `catalog`: `backups` (relative path, old
// content) in its backup tree, and `journal` as its journal (none when
// null).
void leave_dead_run(const std::string& catalog, const std::vector<KitFile>& backups,
                    const char* journal) {
  const std::string state = catalog + "/.qxr8\\run";
  make_dirs(state + "/backup");
  chmod(state.c_str(), 0700);
  for (const KitFile& file : backups) write_file(state + "/backup/" + file.name, file.content, file.mtime);
  if (journal != nullptr) write_file(state + "/journal", journal, 1000);
}

}  // namespace

TEST_F(RollbackTest, ADeadRunIsUndoneFromWhatItsStateShowsWhateverItsJournalSays) {
  struct Case {
    const char* what;
    const char* journal;  // null: no journal at all
    bool restores;        // the backups come back (else the run had committed)
  };
  const std::vector<Case> cases = {
      {"no journal", nullptr, true},
      {"an empty journal", "", true},
      {"a journal cut short", "V1:2\nA12:new/", true},
      {"a foreign journal", "garbage\n", true},
      {"its own journal", "V1:2\nD3:new\nA9:new/x.txt\n", true},
      {"a committed journal", "V1:2\nD3:new\nA9:new/x.txt\nS0:\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    remove_tree(catalog.path());
    write_file(catalog / "a.txt", "the run's a", 5000);
    write_file(catalog / "d/b.txt", "the run's b", 5000);
    write_file(catalog / "new/x.txt", "the run's new file", 5000);
    write_file(catalog / "d/.r8abcdefghijkl", "a placement killed halfway", 5000);
    leave_dead_run(catalog.path(), {{"a.txt", "old a", 1000}, {"d/b.txt", "old b", 1000}},
                   c.journal);
    Directory opened;
    ASSERT_TRUE(Directory::open(W(catalog.path()), opened).ok());
    EXPECT_TRUE(recover_dead_run(opened).ok());

    EXPECT_FALSE(file_exists(catalog / ".qxr8\\run"));
    EXPECT_FALSE(file_exists(catalog / "d/.r8abcdefghijkl"));
    EXPECT_EQ(c.restores ? "old a" : "the run's a", contents_of(catalog / "a.txt"));
    EXPECT_EQ(c.restores ? "old b" : "the run's b", contents_of(catalog / "d/b.txt"));
    // Only a journal it can read says what the run added.
    const bool added = std::string(c.what) == "its own journal";
    EXPECT_EQ(!added, file_exists(catalog / "new/x.txt"));
  }
}

TEST_F(RollbackTest, ADeadRunOfAnotherUserIsLeftToThatUser) {
  // A catalog two users may write, and a dead run of root's in it.
  TempDir shared;
  ASSERT_EQ(0, chmod(shared.path().c_str(), 0777));
  write_file(shared / "a.txt", "root's new a", 5000);
  leave_dead_run(shared.path(), {{"a.txt", "old a", 1000}}, "V1:2\n");
  if (geteuid() != 0) GTEST_SKIP() << "needs root to stand for the other user";
  const auto before = snapshot_tree(shared.path());
  ChildOptions asNobody;
  asNobody.asOtherUser = true;
  const ChildResult r = run_function(
      [&shared] {
        Directory opened;
        if (!Directory::open(W(shared.path()), opened).ok()) return 2;
        const Status status = recover_dead_run(opened);
        const std::string text = narrow_lib(describe_status(status));
        return status.code == 5 && text.find("user root") != std::string::npos &&
                       text.find(shared.path()) != std::string::npos
                   ? 0
                   : 1;
      },
      asNobody);
  if (r.status == 77) GTEST_SKIP() << "cannot run as another user here";
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ(before, snapshot_tree(shared.path()));
}
