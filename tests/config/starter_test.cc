// Locations, the catalog list of the per-user and all-users files, the save
// with its retry, and the registration shared by the wizard and the tool.
// Every test runs under a private HOME and TMPDIR.
#include "config/starter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "config/catalog_registration.h"
#include "config/config_locations.h"
#include "config/write_permission.h"
#include "tests/config/config_test_util.h"
#include "tests/support/child_process.h"
#include "tests/support/file_io.h"

namespace {

using cfgtest::read_file;
using cfgtest::W;
using List = std::vector<wstring>;

const std::string kKey = "ConfigurationTemplatesLocation=";

class StarterTest : public cfgtest::PrivateHomeTest {
 protected:
  static constexpr uid_t kNobody = test_support::kOtherUser;
  static constexpr gid_t kSharedGroup = 1234;

  // A registration in its own process (see register_helper.cc), as the
  // user 65534 (through setpriv) when `asNobody`, with the extra group
  // `group` when it is not 0. With `wait` it pauses after its start-up read
  // until released(). The test's HOME and TMPDIR are inherited.
  using Registration = std::unique_ptr<test_support::Child>;
  static Registration start(const std::string& catalog, bool wait, bool asNobody,
                            gid_t group = 0) {
    std::vector<std::string> args = {QXR8_BINARY_DIR "/tests/config_register_helper", catalog};
    if (wait) args.push_back("wait");
    test_support::ChildOptions options;
    options.pipes = true;
    options.err = test_support::Stream::kInherit;
    options.asOtherUser = asNobody;
    options.otherUserGroup = group;
    return std::make_unique<test_support::Child>(args, options);
  }
  // Waits until the registration has done its start-up read.
  static bool ready(const Registration& r) {
    char byte = 0;
    return read(r->fromChild(), &byte, 1) == 1;
  }
  static void release(const Registration& r) {
    const char byte = 'g';
    EXPECT_EQ(1, write(r->toChild(), &byte, 1));
  }
  // The helper's exit status (0, 1, 2 or 3), or -1 when it did not exit.
  static int finish(Registration& r) {
    r->closePipes();
    return r->wait().status;
  }
  static int runAsNobody(const std::string& catalog, gid_t group = 0) {
    Registration r = start(catalog, false, true, group);
    return finish(r);
  }

  // As root, hands the private HOME to the user 65534 so that it can run
  // registrations there; false (the test skips) when not root.
  bool giveHomeToNobody() {
    if (geteuid() != 0) return false;
    EXPECT_EQ(0, chmod(root.c_str(), 0711));
    cfgtest::make_dirs(localDir());
    for (const std::string& dir : {home, home + "/.Qx", localDir(), tmp}) {
      EXPECT_EQ(0, chown(dir.c_str(), kNobody, kNobody)) << dir;
    }
    return true;
  }
};

TEST_F(StarterTest, LocationsUnderHome) {
  const wstring h = W(home);
  EXPECT_EQ(h + u"/.Qx/qxlaunch", get_local_config_file_dir());
  EXPECT_EQ(h + u"/.Qx/qxlaunch/qxlaunch.cfg", get_local_config_file_path());
  EXPECT_EQ(h + u"/.Qx/qxlauncht", get_local_config_file_dir_base());
  EXPECT_EQ(h + u"/.Qx/qxlauncht/qxlaunch.cfg", get_local_config_file_path_base());
  EXPECT_EQ(h + u"/.qxr8//.Qx/qxlaunch", get_allusers_config_file_dir());
  EXPECT_EQ(h + u"/.qxr8//.Qx/qxlaunch/qxlaunch.cfg", get_allusers_config_file_path());
  EXPECT_EQ(h + u"/.Qx/qxlaunch/qxlaunch.cfg", get_allusers_config_file_path_base());
  EXPECT_EQ(h + u"/.qxr8/.Qx/qxlauncht", get_allusers_config_file_dir_base());
  EXPECT_EQ(h + u"/.qxr8/Qx/qxr8/", r8_app_data_dir(false));
  EXPECT_EQ(h + u"/.qxr8/Qx/qxr8/", r8_app_data_dir(true));
  EXPECT_EQ(h + u"/.qxr8/Qx\\Qxr82\\", r8_app_data_dir_82(false));
  // Pure path arithmetic: nothing was created.
  EXPECT_TRUE(cfgtest::list_dir(home).empty());
}

TEST_F(StarterTest, LocationsFollowHomeChanges) {
  const std::string other = root + "/other home";
  ASSERT_EQ(0, mkdir(other.c_str(), 0755));
  setenv("HOME", other.c_str(), 1);
  EXPECT_EQ(W(other) + u"/.Qx/qxlaunch/qxlaunch.cfg", get_local_config_file_path());
}

TEST_F(StarterTest, MergeOfPerUserAndAllUsersLists) {
  putFile(localDir(), localFile(),
          kKey + "/srv/A\n" + kKey + "/srv/a\n" + kKey + "D:\\cat\\x\n" + "Other=1\n");
  putFile(allUsersDir(), allUsersFile(),
          kKey + "/srv/B\n" + kKey + "/SRV/A\n" + kKey + "/srv/A/\n" + kKey + "D:/cat/x\n");
  List out{u"before"};
  get_tmplts_list(out, true, false);
  // Appended; case duplicates dropped with the first spelling kept;
  // backslashes turned into slashes; "X/" differs from "X".
  EXPECT_EQ((List{u"before", u"/srv/A", u"D:/cat/x", u"/srv/B", u"/srv/A/"}), out);

  List allUsersOnly;
  get_tmplts_list(allUsersOnly, false, false);
  EXPECT_EQ((List{u"/srv/B", u"/SRV/A", u"/srv/A/", u"D:/cat/x"}), allUsersOnly);
}

TEST_F(StarterTest, GetConfigFilesValuesSourcesAndFirstSpelling) {
  Starter s;
  s.localConfig.addValue(u"K", u"l1");
  s.localConfig.addValue(u"K", u"Shared");
  s.allUsersConfig.addValue(u"k", u"SHARED");
  s.allUsersConfig.addValue(u"k", u"a1");
  List out;
  s.getConfigFilesValues(true, u"K", out, false);
  EXPECT_EQ((List{u"l1", u"Shared", u"a1"}), out);
  out.clear();
  s.getConfigFilesValues(false, u"K", out, false);
  EXPECT_EQ((List{u"SHARED", u"a1"}), out);
  out.clear();
  s.getConfigFilesValues(false, u"K", out, true);
  EXPECT_EQ((List{u"SHARED", u"a1", u"l1"}), out);
  // Values already in `out` are not consulted.
  out = {u"l1"};
  s.getConfigFilesValues(true, u"K", out, true);
  EXPECT_EQ((List{u"l1", u"l1", u"Shared", u"a1"}), out);
}

TEST(StarterStatic, RemovePathDuplicatesTrailingBackslashAndCase) {
  List l{u"/x", u"/X\\", u"/x/", u"", u"", u"/y\\", u"/Y", u"\\", u"/x/"};
  Starter::removePathDuplicates(l);
  EXPECT_EQ((List{u"/x", u"/x/", u"", u"/y\\", u"\\"}), l);
  List seps{u"a\\b\\", u"\\\\srv\\share"};
  Starter::replaceWrongSeparators(seps);
  EXPECT_EQ((List{u"a/b/", u"//srv/share"}), seps);
}

TEST_F(StarterTest, SetReplacesTheListAndKeepsOtherKeys) {
  putFile(localDir(), localFile(),
          "DefaultVersion=8.2\r\n" + kKey + "/old1\n" + "InstallComponents=A B\n" + kKey +
              "/old2\n");
  putFile(allUsersDir(), allUsersFile(), kKey + "/common\n");
  set_tmplts_list({u"/new", u"/NEW\\", u"/old1", u"/new/"}, false);
  EXPECT_EQ("DefaultVersion=8.2\r\n" + kKey + "/new\n" + kKey + "/old1\n" + kKey + "/new/\n" +
                "InstallComponents=A B\n",
            read_file(localFile()));
  // The all-users file is only read.
  EXPECT_EQ(kKey + "/common\n", read_file(allUsersFile()));
}

TEST_F(StarterTest, SetWithEmptyListMovesKeyToEndAndWritesNoLine) {
  putFile(localDir(), localFile(), kKey + "/a\nOther=1\n");
  set_tmplts_list({}, false);
  EXPECT_EQ("Other=1\n", read_file(localFile()));
}

TEST_F(StarterTest, SaveCreatesMissingDirectories) {
  set_tmplts_list({u"/cat"}, true);
  EXPECT_EQ(kKey + "/cat\n", read_file(baseFile()));
  EXPECT_FALSE(cfgtest::file_exists(localFile()));
}

TEST_F(StarterTest, FailedSaveRetriesOnceAfterFallbackDirectoriesAndThrows) {
  // ~/.Qx is a regular file, so neither the directory nor the file can exist.
  cfgtest::writeBytes(home + "/.Qx", "in the way\n");
  try {
    set_tmplts_list({u"/cat"}, false);
    FAIL() << "no exception";
  } catch (int code) {
    EXPECT_EQ(1, code);
  }
  EXPECT_EQ("in the way\n", read_file(home + "/.Qx"));
  struct stat st;
  ASSERT_EQ(0, stat((home + "/.qxr8/\\Qx.Qx/qxlaunch").c_str(), &st));
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(StarterTest, IsWritePermittedAnswersForTheDirectoryAsked) {
  const std::string dir = root + "/catalog";
  ASSERT_EQ(0, mkdir(dir.c_str(), 0755));
  EXPECT_TRUE(isWritePermitted(W(dir)));
  EXPECT_TRUE(isWritePermitted(W(dir + "/")));
  EXPECT_TRUE(cfgtest::list_dir(dir).empty()) << "probe file left behind";
  EXPECT_TRUE(cfgtest::list_dir(tmp).empty()) << "probe went to TMPDIR";

  EXPECT_FALSE(isWritePermitted(W(root + "/missing")));
  cfgtest::writeBytes(root + "/file", "x");
  EXPECT_FALSE(isWritePermitted(W(root + "/file")));
  // Not writable even for root.
  EXPECT_FALSE(isWritePermitted(u"/proc"));
  EXPECT_FALSE(cfgtest::file_exists(root + "/missing"));
  EXPECT_TRUE(cfgtest::list_dir(tmp).empty());
}

// --- registration, end to end with real files ---

TEST_F(StarterTest, NoFilesAtAll) {
  CatalogRegistration reg = read_catalog_registration();
  EXPECT_TRUE(reg.tmpltsList.empty());
  EXPECT_FALSE(reg.hasBaseCfg);
  EXPECT_FALSE(reg.listFromBaseCfg);
  const wstring catalog = r8_app_data_dir(false) + u"tmplts/";
  EXPECT_EQ(0, register_catalog(reg, catalog));
  EXPECT_EQ((List{r8_app_data_dir(false) + u"tmplts"}), reg.tmpltsList);
  EXPECT_EQ(kKey + home + "/.qxr8/Qx/qxr8/tmplts\n", read_file(localFile()));
  EXPECT_FALSE(cfgtest::file_exists(baseFile()));
}

TEST_F(StarterTest, PerUserAndAllUsersListsThenInstallPutsCatalogFirst) {
  putFile(localDir(), localFile(),
          "CommonCfgLocation=/etc/x\n" + kKey + "/srv/A\n" + "DistributiveLocation=/d\n");
  putFile(allUsersDir(), allUsersFile(), kKey + "/srv/B\n" + kKey + "/SRV/a\n");
  CatalogRegistration reg = read_catalog_registration();
  EXPECT_EQ((List{u"/srv/A", u"/srv/B"}), reg.tmpltsList);
  EXPECT_FALSE(reg.hasBaseCfg);
  EXPECT_EQ(0, register_catalog(reg, u"/srv/C\\"));
  EXPECT_EQ("CommonCfgLocation=/etc/x\n" + kKey + "/srv/C\n" + kKey + "/srv/A\n" + kKey +
                "/srv/B\n" + "DistributiveLocation=/d\n",
            read_file(localFile()));
  EXPECT_FALSE(cfgtest::file_exists(baseFile()));
}

TEST_F(StarterTest, InstallIntoListedCatalogMovesItToTheFront) {
  putFile(localDir(), localFile(), kKey + "/srv/A\n" + kKey + "/srv/B\n");
  CatalogRegistration reg = read_catalog_registration();
  EXPECT_EQ(0, register_catalog(reg, u"/SRV/b/"));
  EXPECT_EQ(kKey + "/SRV/b\n" + kKey + "/srv/A\n", read_file(localFile()));
}

TEST_F(StarterTest, OnlyBaseFileWithCatalogsUpdatesOnlyTheBaseFile) {
  putFile(baseDir(), baseFile(), kKey + "/base/one\nOther=b\n");
  CatalogRegistration reg = read_catalog_registration();
  EXPECT_TRUE(reg.hasBaseCfg);
  EXPECT_TRUE(reg.listFromBaseCfg);
  EXPECT_EQ((List{u"/base/one"}), reg.tmpltsList);
  EXPECT_EQ(0, register_catalog(reg, u"/new"));
  EXPECT_EQ(kKey + "/new\n" + kKey + "/base/one\nOther=b\n", read_file(baseFile()));
  EXPECT_FALSE(cfgtest::file_exists(localFile()));
}

TEST_F(StarterTest, OnlyBaseFileWithoutCatalogsUpdatesBothFiles) {
  putFile(baseDir(), baseFile(), "Other=b\n");
  CatalogRegistration reg = read_catalog_registration();
  EXPECT_TRUE(reg.hasBaseCfg);
  EXPECT_FALSE(reg.listFromBaseCfg);
  EXPECT_TRUE(reg.tmpltsList.empty());
  EXPECT_EQ(0, register_catalog(reg, u"/new/"));
  EXPECT_EQ(kKey + "/new\n", read_file(localFile()));
  EXPECT_EQ("Other=b\n" + kKey + "/new\n", read_file(baseFile()));
}

TEST_F(StarterTest, BothFilesGetTheListReadFromTheOrdinaryFiles) {
  putFile(localDir(), localFile(), kKey + "/ord/A\n");
  putFile(allUsersDir(), allUsersFile(), kKey + "/all/B\n");
  putFile(baseDir(), baseFile(), kKey + "/base/X\nBaseOnly=1\n");
  CatalogRegistration reg = read_catalog_registration();
  EXPECT_TRUE(reg.hasBaseCfg);
  EXPECT_FALSE(reg.listFromBaseCfg);
  EXPECT_EQ((List{u"/ord/A", u"/all/B"}), reg.tmpltsList);
  EXPECT_EQ(0, register_catalog(reg, u"/C"));
  const std::string list = kKey + "/C\n" + kKey + "/ord/A\n" + kKey + "/all/B\n";
  EXPECT_EQ(list, read_file(localFile()));
  EXPECT_EQ(list + "BaseOnly=1\n", read_file(baseFile()));
}

TEST_F(StarterTest, FailingFirstWriteIsReportedAndSkipsTheSecond) {
  // The ordinary directory cannot exist (its parent is a file), the base
  // file is readable but sits elsewhere: the first write fails.
  putFile(baseDir(), baseFile(), "Other=b\n");
  CatalogRegistration reg = read_catalog_registration();
  ASSERT_TRUE(reg.hasBaseCfg);
  ASSERT_FALSE(reg.listFromBaseCfg);
  // Replace ~/.Qx/qxlaunch by a file now that the read is done.
  cfgtest::writeBytes(localDir(), "blocker\n");
  EXPECT_EQ(1, register_catalog(reg, u"/C"));
  EXPECT_EQ("Other=b\n", read_file(baseFile()));
  EXPECT_EQ("blocker\n", read_file(localDir()));
}

TEST_F(StarterTest, RegistrationKeepsSymlinkedLauncherFile) {
  const std::string dotfiles = root + "/dotfiles";
  cfgtest::make_dirs(dotfiles);
  cfgtest::writeBytes(dotfiles + "/launcher.cfg", kKey + "/A\nKeep=yes\n");
  ASSERT_EQ(0, chmod((dotfiles + "/launcher.cfg").c_str(), 0600));
  cfgtest::make_dirs(localDir());
  ASSERT_EQ(0, symlink((dotfiles + "/launcher.cfg").c_str(), localFile().c_str()));
  CatalogRegistration reg = read_catalog_registration();
  EXPECT_EQ((List{u"/A"}), reg.tmpltsList);
  EXPECT_EQ(0, register_catalog(reg, u"/B"));
  struct stat st;
  ASSERT_EQ(0, lstat(localFile().c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(kKey + "/B\n" + kKey + "/A\nKeep=yes\n", read_file(dotfiles + "/launcher.cfg"));
  ASSERT_EQ(0, stat(localFile().c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 07777);
}

TEST_F(StarterTest, TwoRegistrationsInARowSeeEachOther) {
  CatalogRegistration first = read_catalog_registration();
  EXPECT_EQ(0, register_catalog(first, u"/one"));
  CatalogRegistration second = read_catalog_registration();
  EXPECT_EQ((List{u"/one"}), second.tmpltsList);
  EXPECT_EQ(0, register_catalog(second, u"/two"));
  EXPECT_EQ(kKey + "/two\n" + kKey + "/one\n", read_file(localFile()));
}

// A catalog already first leaves the file untouched (inode, time stamps).
TEST_F(StarterTest, RegistrationWritesOnlyWhenTheTextChanges) {
  putFile(localDir(), localFile(), kKey + "/srv/A\n" + kKey + "/srv/B\nOther=1\n");
  test_support::set_mtime(localFile(), 1000000000);
  struct stat before, after;
  CatalogRegistration reg = read_catalog_registration();
  ASSERT_TRUE(stat(localFile().c_str(), &before) == 0 && register_catalog(reg, u"/srv/A/") == 0);
  EXPECT_FALSE(reg.changed);
  EXPECT_TRUE(stat(localFile().c_str(), &after) == 0 && after.st_ino == before.st_ino &&
              after.st_mtime == 1000000000);
}

// Dead writers' temporaries go with the next registration, even under the
// id of a running process (as after a power cut); links, other names and
// other users' files stay.
TEST_F(StarterTest, RegistrationSweepsTheTemporariesOfDeadWriters) {
  putFile(localDir(), localFile(), kKey + "/srv/A\n");
  const std::string stale = ".qxlaunch.cfg.qxr8tmp." + std::to_string(getppid());
  std::vector<std::string> left = {stale + ".link5678", stale + ".short", "qxlaunch.cfg"};
  cfgtest::writeBytes(localDir() + "/" + stale + ".abcd1234", "x");
  cfgtest::writeBytes(localDir() + "/" + left[1], "x");
  ASSERT_EQ(0, symlink("qxlaunch.cfg", (localDir() + "/" + left[0]).c_str()));
  if (geteuid() == 0) {
    left.insert(left.begin() + 1, stale + ".other123");
    cfgtest::writeBytes(localDir() + "/" + left[1], "x");
    ASSERT_EQ(0, chown((localDir() + "/" + left[1]).c_str(), kNobody, kNobody));
  }
  CatalogRegistration reg = read_catalog_registration();
  EXPECT_TRUE(register_catalog(reg, u"/srv/A") == 0 && !reg.changed);
  EXPECT_EQ(left, cfgtest::list_dir(localDir()));
}

// --- what other users, other programs and other encodings left in the file ---

// A file its user may write but not read (mode 0200) cannot be read whole:
// it must not be rewritten with the catalog alone.
TEST_F(StarterTest, UnreadableFileIsNotRewritten) {
  if (!giveHomeToNobody()) GTEST_SKIP() << "needs root to run the registration as another user";
  const std::string old = "Secret=1\n" + kKey + "/srv/A\n";
  cfgtest::writeBytes(localFile(), old);
  ASSERT_EQ(0, chown(localFile().c_str(), kNobody, kNobody));
  ASSERT_EQ(0, chmod(localFile().c_str(), 0200));
  EXPECT_EQ(1, runAsNobody("/srv/new"));
  EXPECT_EQ(old, read_file(localFile()));
  struct stat st;
  ASSERT_EQ(0, stat(localFile().c_str(), &st));
  EXPECT_EQ(0200u, st.st_mode & 07777);
}

// A folder the user may not write, holding a file the user may write: the
// file is rewritten in place.
TEST_F(StarterTest, FileInAReadOnlyFolderIsRewrittenInPlace) {
  if (!giveHomeToNobody()) GTEST_SKIP() << "needs root to run the registration as another user";
  cfgtest::writeBytes(localFile(), kKey + "/srv/A\nOther=kept\n");
  ASSERT_EQ(0, chown(localFile().c_str(), kNobody, kNobody));
  ASSERT_EQ(0, chmod(localDir().c_str(), 0555));
  const int rc = runAsNobody("/srv/new");
  chmod(localDir().c_str(), 0755);
  EXPECT_EQ(0, rc);
  EXPECT_EQ(kKey + "/srv/new\n" + kKey + "/srv/A\nOther=kept\n", read_file(localFile()));
  EXPECT_EQ((std::vector<std::string>{"qxlaunch.cfg"}), cfgtest::list_dir(localDir()));
}

// A file shared through its group (root:1234, 0660) and rewritten by a
// member of that group still belongs to root and the group afterwards.
TEST_F(StarterTest, GroupSharedFileKeepsItsOwnerGroupAndMode) {
  if (!giveHomeToNobody()) GTEST_SKIP() << "needs root to run the registration as another user";
  cfgtest::writeBytes(localFile(), kKey + "/srv/A\nOther=kept\n");
  ASSERT_EQ(0, chown(localFile().c_str(), 0, kSharedGroup));
  ASSERT_EQ(0, chmod(localFile().c_str(), 0660));
  EXPECT_EQ(0, runAsNobody("/srv/new", kSharedGroup));
  EXPECT_EQ(kKey + "/srv/new\n" + kKey + "/srv/A\nOther=kept\n", read_file(localFile()));
  struct stat st;
  ASSERT_EQ(0, stat(localFile().c_str(), &st));
  EXPECT_EQ(0u, st.st_uid);
  EXPECT_EQ(kSharedGroup, st.st_gid);
  EXPECT_EQ(0660u, st.st_mode & 07777);
}

TEST_F(StarterTest, HardLinkedFileStaysOneFileUnderBothNames) {
  putFile(localDir(), localFile(), kKey + "/srv/A\nOther=kept\n");
  const std::string other = home + "/launcher-settings";
  ASSERT_EQ(0, link(localFile().c_str(), other.c_str()));
  CatalogRegistration reg = read_catalog_registration();
  EXPECT_EQ(0, register_catalog(reg, u"/srv/new"));
  const std::string expected = kKey + "/srv/new\n" + kKey + "/srv/A\nOther=kept\n";
  EXPECT_EQ(expected, read_file(localFile()));
  EXPECT_EQ(expected, read_file(other));
  struct stat st;
  ASSERT_EQ(0, stat(localFile().c_str(), &st));
  EXPECT_EQ(2u, st.st_nlink);
}

// What a writer killed between the write of a shorter text and the cut to
// its length left: the new text's start and the old one's tail, and the
// old text kept beside the file. The next start-up read puts the old text
// back; a copy kept by a writer still running is left to it.
TEST_F(StarterTest, AnInPlaceRewriteThatDiedHalfwayIsPutBackByTheNextStart) {
  const std::string old = kKey + "/srv/A\nOther=kept\n";
  putFile(localDir(), localFile(), kKey + "/x\ny00002=value 00002\n");
  test_support::Child gone([] { return 0; });
  gone.wait();
  const std::string kept =
      ".qxlaunch.cfg.qxr8old." + std::to_string(gone.pid()) + ".abcd1234";
  const std::string live = ".qxlaunch.cfg.qxr8old." + std::to_string(getppid()) + ".efgh5678";
  cfgtest::writeBytes(localDir() + "/" + kept, old);
  cfgtest::writeBytes(localDir() + "/" + live, "a running writer's copy\n");

  const CatalogRegistration reg = read_catalog_registration();
  EXPECT_EQ(old, read_file(localFile()));
  ASSERT_FALSE(reg.tmpltsList.empty());
  EXPECT_EQ(u"/srv/A", reg.tmpltsList[0]);
  EXPECT_TRUE(reg.unrestored.empty());
  EXPECT_EQ((std::vector<std::string>{live, "qxlaunch.cfg"}), cfgtest::list_dir(localDir()));
}

// Extended attributes and the ACL (an attribute too) stay on the file.
TEST_F(StarterTest, ExtendedAttributesAndAclSurvive) {
  putFile(localDir(), localFile(), kKey + "/srv/A\n");
  const std::string label = "from the admin";
  if (setxattr(localFile().c_str(), "user.origin", label.data(), label.size(), 0) != 0) {
    GTEST_SKIP() << "no user extended attributes here: " << std::strerror(errno);
  }
  // version 2; owner rw, user 1234 r, group r, mask r, others nothing
  const unsigned char acl[] = {2, 0, 0, 0,                                              //
                               1, 0, 6, 0, 0xFF, 0xFF, 0xFF, 0xFF,                     //
                               2, 0, 4, 0, 0xD2, 0x04, 0, 0,                           //
                               4, 0, 4, 0, 0xFF, 0xFF, 0xFF, 0xFF,                     //
                               0x10, 0, 4, 0, 0xFF, 0xFF, 0xFF, 0xFF,                  //
                               0x20, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  if (setxattr(localFile().c_str(), "system.posix_acl_access", acl, sizeof acl, 0) != 0) {
    GTEST_SKIP() << "no ACLs here: " << std::strerror(errno);
  }
  CatalogRegistration reg = read_catalog_registration();
  EXPECT_EQ(0, register_catalog(reg, u"/srv/new"));
  EXPECT_EQ(kKey + "/srv/new\n" + kKey + "/srv/A\n", read_file(localFile()));
  char value[256];
  const ssize_t n = getxattr(localFile().c_str(), "user.origin", value, sizeof value);
  ASSERT_GE(n, 0) << "user.origin lost";
  EXPECT_EQ(label, std::string(value, static_cast<size_t>(n)));
  const ssize_t a = getxattr(localFile().c_str(), "system.posix_acl_access", value, sizeof value);
  ASSERT_GE(a, 0) << "ACL lost";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(acl), sizeof acl),
            std::string(value, static_cast<size_t>(a)));
}

// Registrations that all read the list before any of them writes (a wizard
// and a tool finishing together) each keep the others' catalogs.
TEST_F(StarterTest, RegistrationsStartedTogetherKeepEveryCatalog) {
  putFile(localDir(), localFile(), kKey + "/srv/A\nOther=kept\n");
  const std::vector<std::string> catalogs = {"/srv/one", "/srv/two", "/srv/three"};
  std::vector<Registration> running;
  for (const std::string& c : catalogs) running.push_back(start(c, true, false));
  for (const Registration& r : running) ASSERT_TRUE(ready(r)) << "helper did not start";
  for (const Registration& r : running) release(r);
  for (Registration& r : running) EXPECT_EQ(0, finish(r));
  const std::string text = read_file(localFile());
  for (const std::string& c : catalogs) {
    EXPECT_NE(std::string::npos, text.find(kKey + c + "\n")) << c << " lost:\n" << text;
  }
  EXPECT_NE(std::string::npos, text.find(kKey + "/srv/A\n")) << text;
  EXPECT_NE(std::string::npos, text.find("Other=kept\n")) << text;
}

// A file saved as UTF-16LE: its catalogs are recognised, every other key
// survives, and it is written back in the multibyte form.
TEST_F(StarterTest, Utf16FileIsReadAndWrittenBackAsMultibyte) {
  // "Name=\u0417\u043d\U0001F600\r\n" + catalog line + "Flag\n" after the mark
  const std::u16string text = u"Name=\u0417\u043d\U0001F600\r\n"
                              u"ConfigurationTemplatesLocation=/srv/A\nFlag\n";
  std::string bytes = "\xFF\xFE";
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  putFile(localDir(), localFile(), bytes);
  CatalogRegistration reg = read_catalog_registration();
  EXPECT_EQ((List{u"/srv/A"}), reg.tmpltsList);
  EXPECT_EQ(0, register_catalog(reg, u"/srv/new"));
  EXPECT_EQ("Name=\xD0\x97\xD0\xBD\xF0\x9F\x98\x80\r\n" + kKey + "/srv/new\n" + kKey +
                "/srv/A\nFlag=\n",
            read_file(localFile()));
}

// 16,000 lines: 8,000 keys and 8,000 catalogs. Read, merged and written in
// well under a second; a reader or merge that went back to comparing every
// line with every other would run into the test's time limit.
TEST_F(StarterTest, LargeFileIsRegisteredWhole) {
  std::string keys;
  std::string catalogs;
  for (int i = 0; i < 8000; ++i) {
    keys += "Key" + std::to_string(i) + "=value " + std::to_string(i) + "\n";
    catalogs += kKey + "/srv/catalog" + std::to_string(i) + "\n";
  }
  putFile(localDir(), localFile(), keys + catalogs);
  CatalogRegistration reg = read_catalog_registration();
  EXPECT_EQ(8000u, reg.tmpltsList.size());
  EXPECT_EQ(0, register_catalog(reg, u"/srv/catalog7999/"));
  EXPECT_EQ(keys + kKey + "/srv/catalog7999\n" +
                catalogs.substr(0, catalogs.size() - (kKey + "/srv/catalog7999\n").size()),
            read_file(localFile()));
}

}  // namespace
