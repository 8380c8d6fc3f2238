// The rollback and the recovery of a dead run against the real file
// system: a run undone only where its files are still its own, and a
// catalog whose state folder or journal someone else planted or changed.
#include "install/rollback.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "install/run_recovery.h"
#include "platform/beneath_open.h"
#include "platform/text_encoding.h"
#include "tests/support/child_process.h"
#include "tests/support/file_io.h"
#include "tests/support/file_tree.h"
#include "tests/support/kit_builder.h"
#include "tests/support/sandbox.h"
#include "tests/support/temp_dir.h"

using namespace test_support;

namespace {

const std::string kState = ".qxr8\\run";

FileInfo info_of(const std::string& path) {
  Directory folder;
  FileInfo info;
  const size_t slash = path.rfind('/');
  Directory::open(widen_lib(path.substr(0, slash)), folder);
  folder.info(SystemName{path.substr(slash + 1)}, FollowLinks::kNo, info);
  return info;
}

// A run into `catalog` that makes folders, places and takes out files as
// the engine does, then dies: the object is dropped without a commit or a
// rollback, which leaves the state folder as a killed run leaves it.
class DeadRun {
 public:
  explicit DeadRun(const std::string& catalog) : m_path(catalog) {
    EXPECT_TRUE(Directory::open(widen_lib(catalog), m_catalog).ok());
    EXPECT_TRUE(m_run.startRun(m_catalog).ok());
  }
  void makeFolder(const std::string& name) {
    std::string above, leaf;
    split_relative(name, above, leaf);
    Directory parent;
    ASSERT_TRUE(open_beneath(m_catalog, above, parent).ok());
    ASSERT_TRUE(parent.makeDirectory(SystemName{leaf}, 0755).ok());
    ASSERT_TRUE(m_run.recordCreatedDir(parent, name).ok());
  }
  // Over what stands there (moved into the backup tree first), or new.
  void place(const std::string& name, const std::string& content) {
    std::string above, leaf;
    split_relative(name, above, leaf);
    Directory parent;
    FileInfo folder, old;
    ASSERT_TRUE(open_beneath(m_catalog, above, parent).ok() && parent.info(folder).ok());
    File file;
    SystemName staged;
    ASSERT_TRUE(m_run.stage().createTemporary(0644, file, staged).ok());
    ASSERT_TRUE(file.writeAll(content.data(), content.size()).ok());
    FileInfo made;
    ASSERT_TRUE(file.setTimes(1700000000).ok() && file.info(made).ok());
    parent.info(SystemName{leaf}, FollowLinks::kNo, old);
    if (old.kind == PathKind::kMissing) {
      m_run.recordAdded(folder_identity_of(folder), name, file_identity_of(made));
    } else {
      m_run.recordReplaced(folder_identity_of(folder), name, file_identity_of(made),
                           file_identity_of(old));
    }
    ASSERT_TRUE(m_run.syncJournal().ok());
    if (old.kind != PathKind::kMissing) {
      ASSERT_TRUE(m_run.moveToBackup(parent, name, SystemName{leaf}, file_identity_of(old)).ok());
    }
    ASSERT_TRUE(m_run.stage().rename(staged, parent, SystemName{leaf}).ok());
  }
  // As a removal takes a file out.
  void takeOut(const std::string& name) {
    std::string above, leaf;
    split_relative(name, above, leaf);
    Directory parent;
    FileInfo folder, old;
    ASSERT_TRUE(open_beneath(m_catalog, above, parent).ok() && parent.info(folder).ok());
    ASSERT_TRUE(parent.info(SystemName{leaf}, FollowLinks::kNo, old).ok());
    m_run.recordBackedUp(folder_identity_of(folder), name, file_identity_of(old));
    ASSERT_TRUE(m_run.syncJournal().ok());
    ASSERT_TRUE(m_run.moveToBackup(parent, name, SystemName{leaf}, file_identity_of(old)).ok());
  }
  Rollback& run() { return m_run; }

 private:
  std::string m_path;
  Directory m_catalog;
  Rollback m_run;
};

class RollbackTest : public ::testing::Test {
 public:
  Sandbox env;
  TempDir catalog;
  TempDir outside;

  // A path in the catalog's state folder.
  std::string state(const std::string& relative) const { return catalog / (kState + "/" + relative); }
  // Recovers the catalog as the next run would; its notes, one a line.
  Status recover(std::string& notes) {
    Directory opened;
    EXPECT_TRUE(Directory::open(widen_lib(catalog.path()), opened).ok());
    std::vector<wstring> lines;
    const Status status = recover_dead_run(opened, nullptr, lines);
    notes.clear();
    for (const wstring& line : lines) notes += narrow_lib(line) + "\n";
    return status;
  }
  // The folders beside the catalog's own files that a run set aside.
  std::vector<std::string> setAside() const {
    std::vector<std::string> found;
    for (const std::string& name : list_dir(catalog.path())) {
      if (name.rfind(kState + "-", 0) == 0) found.push_back(name);
    }
    return found;
  }
  // A catalog of the user's files and a folder outside it that a hostile
  // record would aim at.
  void userFiles() {
    write_file(catalog / "forms/order.frm", "the user's order form", 1000);
    write_file(catalog / "readme.txt", "the user's readme", 1000);
    write_file(outside / "order.frm", "outside the catalog", 1000);
    write_file(outside / ".bashrc", "outside the catalog", 1000);
    make_dirs(outside / "new");
    write_file(outside / "new/keep.txt", "outside the catalog", 1000);
  }
};

TEST_F(RollbackTest, ARunMakesAPrivateStateThatCommitOrRollbackRemoves) {
  for (const bool commit : {true, false}) {
    SCOPED_TRACE(commit ? "commit" : "rollback");
    write_file(catalog / "kept.txt", "kept", 1000);
    {
      DeadRun run(catalog.path());
      const struct stat st = lstat_of(catalog / kState);
      EXPECT_EQ(0700u, st.st_mode & 07777);
      EXPECT_EQ((std::vector<std::string>{"backup", "journal", "stage"}), list_dir(catalog / kState));
      run.place("kept.txt", "the run's");
      // The first copy kept under a name is never replaced by another.
      Directory opened;
      ASSERT_TRUE(Directory::open(widen_lib(catalog.path()), opened).ok());
      EXPECT_EQ(183u, run.run().moveToBackup(opened, "kept.txt", SystemName{"kept.txt"},
                                              file_identity_of(info_of(catalog / "kept.txt")))
                          .code);
      EXPECT_EQ("the run's", contents_of(catalog / "kept.txt"));
      EXPECT_EQ(commit ? 0u : 5u, commit ? run.run().stop() : run.run().rollback(5));
    }
    EXPECT_EQ(std::vector<std::string>{"kept.txt"}, list_dir(catalog.path()));
    EXPECT_EQ(commit ? "the run's" : "kept", contents_of(catalog / "kept.txt"));
  }
  // A state folder that stands (a dead run not undone) is never taken over.
  make_dirs(state("backup"));
  write_file(state("backup/only-copy.txt"), "the user's", 1000);
  Directory opened;
  ASSERT_TRUE(Directory::open(widen_lib(catalog.path()), opened).ok());
  Rollback second;
  EXPECT_EQ(183u, second.startRun(opened).code);
  EXPECT_EQ("the user's", contents_of(state("backup/only-copy.txt")));
}

TEST_F(RollbackTest, ADeadRunIsUndoneOnlyWhereWhatItLeftIsStillItsOwn) {
  struct Case {
    const char* what;
    std::function<void(const RollbackTest&)> after;  // what happened after the crash
    std::vector<std::string> expected;               // the user's tree after recovery
    const char* note;                                // in the notes ("" none)
  };
  const auto tree = [](std::vector<std::string> extra) {
    std::vector<std::string> base = {"forms/", "forms/order.frm", "readme.txt"};
    base.insert(base.end(), extra.begin(), extra.end());
    std::sort(base.begin(), base.end());
    return base;
  };
  const std::vector<Case> cases = {
      {"nothing", [](const RollbackTest&) {}, tree({}), ""},
      {"the user saved over a replaced file",
       [](const RollbackTest& t) { write_file(t.catalog / "forms/order.frm", "saved since", 2000); },
       tree({"forms/order.frm.qxr8-old"}), "forms/order.frm: kept"},
      {"the user edited an added file",
       [](const RollbackTest& t) { write_file(t.catalog / "new/added.frm", "edited", 2000); },
       tree({"new/", "new/added.frm"}), "new/added.frm: kept"},
      {"the user saved into a folder the run made",
       [](const RollbackTest& t) { write_file(t.catalog / "new/mine.txt", "mine", 2000); },
       tree({"new/", "new/mine.txt"}), "new/: kept"},
      {"a link to a folder outside replaced a folder the run wrote into",
       [](const RollbackTest& t) {
         rename((t.catalog / "forms").c_str(), (t.catalog / "forms.moved").c_str());
         symlink(t.outside.path().c_str(), (t.catalog / "forms").c_str());
       },
       {"forms", "forms.moved/", "forms.moved/order.frm", "readme.txt"}, ": left as it is"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    remove_tree(catalog.path());
    remove_tree(outside.path());
    userFiles();
    const auto before = snapshot_tree(catalog.path());
    const auto outsideBefore = snapshot_tree(outside.path());
    {
      DeadRun run(catalog.path());
      run.place("forms/order.frm", "the kit's order form");
      run.place("readme.txt", "the kit's readme");
      run.makeFolder("new");
      run.place("new/added.frm", "the kit's new form");
    }
    c.after(*this);
    std::string notes;
    ASSERT_TRUE(recover(notes).ok()) << notes;
    // What could not go back is set aside, whole.
    for (const std::string& aside : setAside()) remove_tree(catalog / aside);
    EXPECT_EQ(c.expected, list_tree(catalog.path())) << notes;
    EXPECT_EQ("the user's readme", contents_of(catalog / "readme.txt"));
    EXPECT_EQ(outsideBefore, snapshot_tree(outside.path()));
    if (*c.note == '\0') {
      EXPECT_EQ(before, snapshot_tree(catalog.path()));
      EXPECT_EQ("", notes);
    } else {
      EXPECT_NE(std::string::npos, notes.find(c.note)) << notes;
    }
  }
  // The old copy put beside the user's file is the user's original.
  remove_tree(catalog.path());
  userFiles();
  {
    DeadRun run(catalog.path());
    run.place("forms/order.frm", "the kit's");
  }
  write_file(catalog / "forms/order.frm", "saved since", 2000);
  std::string notes;
  ASSERT_TRUE(recover(notes).ok());
  EXPECT_EQ("saved since", contents_of(catalog / "forms/order.frm"));
  EXPECT_EQ("the user's order form", contents_of(catalog / "forms/order.frm.qxr8-old"));
  EXPECT_NE(std::string::npos, notes.find(catalog / "forms/order.frm.qxr8-old")) << notes;
}

TEST_F(RollbackTest, APreviousReleasesDeadRunIsUndoneWithTheKitStandingInForIdentities) {
  userFiles();
  const auto before = snapshot_tree(catalog.path());
  // What the previous release left: the kit's copies placed, the user's
  // originals in the backup tree, a journal of names alone.
  std::vector<config::KitEntry> kit;
  for (const char* name : {"forms/order.frm", "new/added.frm", "new/edited.frm"}) {
    kit.push_back({widen_lib(name), kit_time(1700000000), 0, 9});
  }
  write_file(catalog / "new/added.frm", "kit bytes", 1700000000);
  write_file(catalog / "new/edited.frm", "edited since", 1700000000);
  make_dirs(state("backup/forms"));
  chmod((catalog / kState).c_str(), 0700);
  ASSERT_EQ(0, rename((catalog / "forms/order.frm").c_str(), state("backup/forms/order.frm").c_str()));
  write_file(catalog / "forms/order.frm", "kit bytes", 1700000000);
  write_file(state("journal"), "V1:2\nD3:new\nA13:new/added.frm\nA14:new/edited.frm\n");
  Directory opened;
  ASSERT_TRUE(Directory::open(widen_lib(catalog.path()), opened).ok());
  std::vector<wstring> notes;
  ASSERT_TRUE(recover_dead_run(opened, &kit, notes).ok());
  // The kit's own copies went; the edited one and its folder stay.
  auto expected = before;
  expected["new/"] = snapshot_tree(catalog.path())["new/"];
  expected["new/edited.frm"] = snapshot_tree(catalog.path())["new/edited.frm"];
  EXPECT_EQ(expected, snapshot_tree(catalog.path()));
  EXPECT_EQ("edited since", contents_of(catalog / "new/edited.frm"));
  ASSERT_EQ(1u, notes.size());
  EXPECT_NE(wstring::npos, notes[0].find(u"new/edited.frm: kept"));
}

TEST_F(RollbackTest, ATakenOutFileComesBackAndAStateWithoutBackupsIsRemoved) {
  userFiles();
  const auto before = snapshot_tree(catalog.path());
  {
    DeadRun run(catalog.path());
    run.takeOut("forms/order.frm");
  }
  std::string notes;
  ASSERT_TRUE(recover(notes).ok());
  EXPECT_EQ(before, snapshot_tree(catalog.path()));

  // Killed before its backup tree stood, or cut off as a recovery removed
  // it: the journal cannot have protected anything, whatever it says.
  for (const char* journal : {"V1:3;1\n", "V1:3;1\nD6:1 2 3 x;6\n", ""}) {
    make_dirs(catalog / kState);
    chmod((catalog / kState).c_str(), 0700);
    write_file(state("journal"), journal);
    ASSERT_TRUE(recover(notes).ok());
    EXPECT_EQ(before, snapshot_tree(catalog.path()));
  }
}

TEST_F(RollbackTest, HostileRecordsInTheCallersOwnStateNeverReachOutsideTheCatalog) {
  // What another user of the catalog could have made the state say: links
  // in the catalog to a folder outside, records and backups aimed at them,
  // with the right identities of what is outside.
  const auto record = [](JournalKind kind, const std::string& name, const std::string& path,
                         bool folder) {
    JournalRecord r;
    r.kind = kind;
    r.name = name;
    r.hasIdentities = true;
    const FileInfo target = info_of(path);
    r.folder = folder_identity_of(info_of(path.substr(0, path.rfind('/'))));
    r.placed = file_identity_of(target);
    r.original = file_identity_of(target);
    if (folder) r.placed.size = r.placed.modified = r.placed.modifiedNanoseconds = 0;
    return encode_journal_record(r);
  };
  struct Case {
    const char* what;
    std::function<std::string(const RollbackTest&)> journal;
    bool backup;  // a planted backup of evil/.bashrc
  };
  const std::vector<Case> cases = {
      {"A evil/order.frm", [&](const RollbackTest& t) {
         return record(JournalKind::kAddedFile, "evil/order.frm", t.outside / "order.frm", false);
       }, false},
      {"B evil/.bashrc", [&](const RollbackTest& t) {
         return record(JournalKind::kBackedUp, "evil/.bashrc", t.outside / ".bashrc", false);
       }, true},
      {"D evil/new", [&](const RollbackTest& t) {
         return record(JournalKind::kCreatedDir, "evil/new", t.outside / "new", true);
       }, false},
      {"D of the catalog", [&](const RollbackTest& t) {
         return record(JournalKind::kCreatedDir, "", t.catalog.path(), true);
       }, false},
      {"version 2 A evil/order.frm", [](const RollbackTest&) {
         return std::string("V1:2\nA14:evil/order.frm\nD8:evil/new\nD0:\n");
       }, true},
      {"version 2 with a FIFO for readme.txt in the backup tree", [](const RollbackTest& t) {
         mkfifo(t.state("backup/readme.txt").c_str(), 0600);
         return std::string("V1:2\n");
       }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    remove_tree(catalog.path());
    remove_tree(outside.path());
    userFiles();
    ASSERT_EQ(0, symlink(outside.path().c_str(), (catalog / "evil").c_str()));
    // Planted by another user of the catalog.
    if (lchown((catalog / "evil").c_str(), kOtherUser, kOtherUser) != 0) {
      GTEST_SKIP() << "needs root to stand for the user who planted the link";
    }
    const auto before = snapshot_tree(catalog.path());
    const auto outsideBefore = snapshot_tree(outside.path());
    make_dirs(state("backup/evil"));
    chmod((catalog / kState).c_str(), 0700);
    if (c.backup) write_file(state("backup/evil/.bashrc"), "planted", 1000);
    const std::string version = c.journal(*this).rfind("V1:2", 0) == 0 ? "" : "V1:3;1\n";
    write_file(state("journal"), version + c.journal(*this));
    std::string notes;
    EXPECT_TRUE(recover(notes).ok()) << notes;
    EXPECT_EQ(outsideBefore, snapshot_tree(outside.path()));
    for (const std::string& aside : setAside()) remove_tree(catalog / aside);
    EXPECT_EQ(before, snapshot_tree(catalog.path())) << notes;
  }
}

TEST_F(RollbackTest, AJournalThatDoesNotParseIsSetAsideUntouchedAndTheRunGoesOn) {
  // Framed as a record, whatever the payload.
  const auto framed = [](char kind, const std::string& payload) {
    const std::string n = std::to_string(payload.size());
    return "V1:3;1\n" + std::string(1, kind) + n + ":" + payload + ";" + n + "\n";
  };
  for (const std::string& journal :
       {framed('A', std::string("1 2 3 4 5 6 7 a\0b", 17)), std::string("V1:3;1\nA99999:x"),
        framed('D', "1 2 3 4 ../out"), framed('D', "1 2 3 4 /etc"), framed('A', "1 2 3 4 5 6 7 "),
        std::string("garbage\n")}) {
    SCOPED_TRACE(journal);
    remove_tree(catalog.path());
    userFiles();
    const auto before = snapshot_tree(catalog.path());
    make_dirs(state("backup/forms"));
    chmod((catalog / kState).c_str(), 0700);
    write_file(state("backup/forms/order.frm"), "a backup", 1000);
    write_file(state("journal"), journal);
    std::string notes;
    ASSERT_TRUE(recover(notes).ok());
    ASSERT_EQ(1u, setAside().size());
    const std::string aside = catalog / setAside()[0];
    EXPECT_NE(std::string::npos, notes.find(aside)) << notes;
    EXPECT_EQ("a backup", contents_of(aside + "/backup/forms/order.frm"));
    remove_tree(aside);
    EXPECT_EQ(before, snapshot_tree(catalog.path()));
  }
}

TEST_F(RollbackTest, AStateThatIsNotTheCallersOwnPrivateFolderIsNeverReplayed) {
  userFiles();
  struct Case {
    const char* what;
    std::function<void(const std::string& state)> plant;
    unsigned code;
  };
  const std::vector<Case> cases = {
      {"a link to a folder outside",
       [this](const std::string& state) { symlink(outside.path().c_str(), state.c_str()); }, 183},
      {"a file", [](const std::string& state) { write_file(state, "x"); }, 183},
      {"a folder others may reach", [](const std::string& state) {
         make_dirs(state + "/backup");
         chmod(state.c_str(), 0755);
       }, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.plant(catalog / kState);
    write_file(state("journal"), "V1:2\nD0:\nA9:readme.txt\n");
    const auto before = snapshot_tree(catalog.path());
    const auto outsideBefore = snapshot_tree(outside.path());
    std::string notes;
    EXPECT_EQ(c.code, recover(notes).code);
    EXPECT_EQ(before, snapshot_tree(catalog.path()));
    EXPECT_EQ(outsideBefore, snapshot_tree(outside.path()));
    remove_tree(catalog / kState);
  }
}

TEST_F(RollbackTest, AnotherUsersStateIsLeftToThatUserWhoeverAsksRootIncluded) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to stand for both users";
  // A catalog two users may write; a dead run of each user's in turn.
  ASSERT_EQ(0, chmod(catalog.path().c_str(), 0777));
  userFiles();
  // Who owns the state, who asks, and what the refusal says of the owner.
  const struct {
    unsigned owner;
    bool rootAsks;
    const char* named;
  } cases[] = {{kOtherUser, true, "the user nobody"},
               {54321, true, "uid 54321 (no such user exists)"},
               {0, false, "the user root"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.named);
    const bool rootAsks = c.rootAsks;
    make_dirs(state("backup"));
    chmod((catalog / kState).c_str(), 0700);
    write_file(state("journal"), "V1:2\nA9:readme.txt\n");
    for (const std::string& path : {catalog / kState, state("backup"), state("journal")}) {
      ASSERT_EQ(0, lchown(path.c_str(), c.owner, c.owner));
    }
    const auto before = snapshot_tree(catalog.path());
    ChildOptions options;
    options.asOtherUser = !rootAsks;
    const std::string owner = c.named;
    const ChildResult r = run_function(
        [&] {
          std::string notes;
          const Status status = recover(notes);
          const std::string text = narrow_lib(describe_status(status));
          return status.code == 5 && text.find(owner) != std::string::npos &&
                         text.find("can be moved away") != std::string::npos
                     ? 0
                     : 1;
        },
        options);
    if (r.status == kCannotSwitchUser) GTEST_SKIP() << "cannot run as another user here";
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(before, snapshot_tree(catalog.path()));
    remove_tree(catalog / kState);
  }
}

TEST_F(RollbackTest, AJournalOfMillionsOfRecordsIsReplayedInBoundedMemory) {
  make_dirs(state("backup"));
  chmod((catalog / kState).c_str(), 0700);
  // A million records of files and folders that are not there: 30 MB.
  std::string block;
  for (int i = 0; i < 1000; ++i) {
    JournalRecord r;
    r.kind = i % 2 ? JournalKind::kAddedFile : JournalKind::kCreatedDir;
    r.name = "gone/f" + std::to_string(i);
    r.hasIdentities = true;
    block += encode_journal_record(r);
  }
  {
    FILE* out = std::fopen((state("journal")).c_str(), "w");
    ASSERT_NE(nullptr, out);
    std::fputs("V1:3;1\n", out);
    for (int i = 0; i < 1000; ++i) std::fwrite(block.data(), 1, block.size(), out);
    std::fclose(out);
  }
  const ChildResult r = run_function([this] {
    struct rusage before, after;
    getrusage(RUSAGE_SELF, &before);
    std::string notes;
    const bool ok = recover(notes).ok();
    getrusage(RUSAGE_SELF, &after);
    std::printf("%ld", after.ru_maxrss - before.ru_maxrss);
    std::fflush(stdout);
    return ok ? 0 : 1;
  });
  ASSERT_EQ(0, r.status) << r.err;
#ifdef __SANITIZE_ADDRESS__
  // AddressSanitizer keeps freed memory in quarantine: its peak says
  // nothing of what the replay holds.
  GTEST_SKIP() << "peak memory not judged under AddressSanitizer (grew by " << r.out << " KiB)";
#endif
  EXPECT_LT(std::stol(r.out), 16 * 1024) << "KiB of peak memory gained by the replay";
  EXPECT_FALSE(file_exists(catalog / kState));
}

}  // namespace
