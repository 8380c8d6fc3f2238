// Locations, the catalog list of the per-user and all-users files, the save
// with its retry, and the registration shared by the wizard and the tool.
// Every test runs under a private HOME and TMPDIR.
#include "config/starter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "config/catalog_registration.h"
#include "config/config_locations.h"
#include "config/write_permission.h"
#include "tests/config/config_test_util.h"

namespace {

using cfgtest::readBytes;
using cfgtest::W;
using List = std::vector<wstring>;

const std::string kKey = "ConfigurationTemplatesLocation=";

class StarterTest : public cfgtest::PrivateHomeTest {};

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
  EXPECT_TRUE(cfgtest::listDir(home).empty());
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
            readBytes(localFile()));
  // The all-users file is only read.
  EXPECT_EQ(kKey + "/common\n", readBytes(allUsersFile()));
}

TEST_F(StarterTest, SetWithEmptyListMovesKeyToEndAndWritesNoLine) {
  putFile(localDir(), localFile(), kKey + "/a\nOther=1\n");
  set_tmplts_list({}, false);
  EXPECT_EQ("Other=1\n", readBytes(localFile()));
}

TEST_F(StarterTest, SaveCreatesMissingDirectories) {
  set_tmplts_list({u"/cat"}, true);
  EXPECT_EQ(kKey + "/cat\n", readBytes(baseFile()));
  EXPECT_FALSE(cfgtest::exists(localFile()));
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
  EXPECT_EQ("in the way\n", readBytes(home + "/.Qx"));
  struct stat st;
  ASSERT_EQ(0, stat((home + "/.qxr8/\\Qx.Qx/qxlaunch").c_str(), &st));
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(StarterTest, IsWritePermittedAnswersForTheDirectoryAsked) {
  const std::string dir = root + "/catalog";
  ASSERT_EQ(0, mkdir(dir.c_str(), 0755));
  EXPECT_TRUE(isWritePermitted(W(dir)));
  EXPECT_TRUE(isWritePermitted(W(dir + "/")));
  EXPECT_TRUE(cfgtest::listDir(dir).empty()) << "probe file left behind";
  EXPECT_TRUE(cfgtest::listDir(tmp).empty()) << "probe went to TMPDIR";

  EXPECT_FALSE(isWritePermitted(W(root + "/missing")));
  cfgtest::writeBytes(root + "/file", "x");
  EXPECT_FALSE(isWritePermitted(W(root + "/file")));
  // Not writable even for root.
  EXPECT_FALSE(isWritePermitted(u"/proc"));
  EXPECT_FALSE(cfgtest::exists(root + "/missing"));
  EXPECT_TRUE(cfgtest::listDir(tmp).empty());
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
  EXPECT_EQ(kKey + home + "/.qxr8/Qx/qxr8/tmplts\n", readBytes(localFile()));
  EXPECT_FALSE(cfgtest::exists(baseFile()));
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
            readBytes(localFile()));
  EXPECT_FALSE(cfgtest::exists(baseFile()));
}

TEST_F(StarterTest, InstallIntoListedCatalogMovesItToTheFront) {
  putFile(localDir(), localFile(), kKey + "/srv/A\n" + kKey + "/srv/B\n");
  CatalogRegistration reg = read_catalog_registration();
  EXPECT_EQ(0, register_catalog(reg, u"/SRV/b/"));
  EXPECT_EQ(kKey + "/SRV/b\n" + kKey + "/srv/A\n", readBytes(localFile()));
}

TEST_F(StarterTest, OnlyBaseFileWithCatalogsUpdatesOnlyTheBaseFile) {
  putFile(baseDir(), baseFile(), kKey + "/base/one\nOther=b\n");
  CatalogRegistration reg = read_catalog_registration();
  EXPECT_TRUE(reg.hasBaseCfg);
  EXPECT_TRUE(reg.listFromBaseCfg);
  EXPECT_EQ((List{u"/base/one"}), reg.tmpltsList);
  EXPECT_EQ(0, register_catalog(reg, u"/new"));
  EXPECT_EQ(kKey + "/new\n" + kKey + "/base/one\nOther=b\n", readBytes(baseFile()));
  EXPECT_FALSE(cfgtest::exists(localFile()));
}

TEST_F(StarterTest, OnlyBaseFileWithoutCatalogsUpdatesBothFiles) {
  putFile(baseDir(), baseFile(), "Other=b\n");
  CatalogRegistration reg = read_catalog_registration();
  EXPECT_TRUE(reg.hasBaseCfg);
  EXPECT_FALSE(reg.listFromBaseCfg);
  EXPECT_TRUE(reg.tmpltsList.empty());
  EXPECT_EQ(0, register_catalog(reg, u"/new/"));
  EXPECT_EQ(kKey + "/new\n", readBytes(localFile()));
  EXPECT_EQ("Other=b\n" + kKey + "/new\n", readBytes(baseFile()));
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
  EXPECT_EQ(list, readBytes(localFile()));
  EXPECT_EQ(list + "BaseOnly=1\n", readBytes(baseFile()));
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
  EXPECT_EQ("Other=b\n", readBytes(baseFile()));
  EXPECT_EQ("blocker\n", readBytes(localDir()));
}

TEST_F(StarterTest, RegistrationKeepsSymlinkedLauncherFile) {
  const std::string dotfiles = root + "/dotfiles";
  cfgtest::makeDirs(dotfiles);
  cfgtest::writeBytes(dotfiles + "/launcher.cfg", kKey + "/A\nKeep=yes\n");
  ASSERT_EQ(0, chmod((dotfiles + "/launcher.cfg").c_str(), 0600));
  cfgtest::makeDirs(localDir());
  ASSERT_EQ(0, symlink((dotfiles + "/launcher.cfg").c_str(), localFile().c_str()));
  CatalogRegistration reg = read_catalog_registration();
  EXPECT_EQ((List{u"/A"}), reg.tmpltsList);
  EXPECT_EQ(0, register_catalog(reg, u"/B"));
  struct stat st;
  ASSERT_EQ(0, lstat(localFile().c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(kKey + "/B\n" + kKey + "/A\nKeep=yes\n", readBytes(dotfiles + "/launcher.cfg"));
  ASSERT_EQ(0, stat(localFile().c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 07777);
}

TEST_F(StarterTest, TwoRegistrationsInARowSeeEachOther) {
  CatalogRegistration first = read_catalog_registration();
  EXPECT_EQ(0, register_catalog(first, u"/one"));
  CatalogRegistration second = read_catalog_registration();
  EXPECT_EQ((List{u"/one"}), second.tmpltsList);
  EXPECT_EQ(0, register_catalog(second, u"/two"));
  EXPECT_EQ(kKey + "/two\n" + kKey + "/one\n", readBytes(localFile()));
}

}  // namespace
