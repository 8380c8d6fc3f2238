// The wizard's checks and texts driven in-process: the start-up checks,
// the proposed catalog and its clean-up, the catalog check, the welcome
// text, silent mode, a failing installation and the polling loop.
#include <gdk/gdkkeysyms.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include "dialog_fixture.h"
#include "install/kit_signature.h"
#include "tests/support/file_tree.h"
#include "tests/support/minisign_files.h"

namespace app_test {
namespace {

void write_launcher_file(const Sandbox& box, const std::vector<std::string>& catalogs) {
  make_dirs(box.home() + "/.Qx/qxlaunch");
  std::string text;
  for (const std::string& catalog : catalogs) text += "ConfigurationTemplatesLocation=" + catalog + "\n";
  write_file(box.launcherFile(), text);
}

TEST(CleanDefaultCatalog, EmptiesRemoteUrlsAndCutsTheFirstFileScheme) {
  EXPECT_EQ(clean_default_catalog(u"/srv/tmplts"), u"/srv/tmplts");
  EXPECT_EQ(clean_default_catalog(u"file:///srv/tmplts"), u"/srv/tmplts");
  EXPECT_EQ(clean_default_catalog(u"file://file:///x"), u"file:///x");
  EXPECT_EQ(clean_default_catalog(u"/a/http://b"), u"");
  EXPECT_EQ(clean_default_catalog(u"https://host/x"), u"");
  EXPECT_EQ(clean_default_catalog(u"ftp://host/x"), u"");
  // The URL tests come first, so a "file://" in front does not save it.
  EXPECT_EQ(clean_default_catalog(u"file://ftp://x"), u"");
  EXPECT_EQ(clean_default_catalog(u"/srv/\ntm\r\npl\rts"), u"/srv/tmplts");
  EXPECT_EQ(clean_default_catalog(u"HTTP://case/matters"), u"HTTP://case/matters");
}

TEST_F(DialogTest, ProposesTheDefaultCatalogWithoutLauncherFiles) {
  makeDialog();
  ASSERT_TRUE(dlg->OnInitDialog());
  EXPECT_EQ(narrow_lib(dlg->catalogPath), sandbox->defaultCatalog());
  EXPECT_TRUE(dlg->tmpltsList.empty());
  EXPECT_FALSE(dlg->hasBaseCfg);
  EXPECT_FALSE(dlg->listFromBaseCfg);
  EXPECT_EQ(narrow_lib(dlg->kitPath), sandbox->kitDir() + "/qxr8.xdk");
  EXPECT_EQ(dlg->kitReader.entries.size(), 4u);
}

TEST_F(DialogTest, ProposesTheFirstWritableKnownCatalogAndRegistersTheNewOneFirst) {
  const std::string missing = sandbox->work("missing");
  const std::string writable = sandbox->work("writable");
  make_dirs(writable);
  write_launcher_file(*sandbox, {missing, writable});
  makeDialog();
  openWizard();
  EXPECT_EQ(narrow_lib(dlg->catalogPath), writable);
  clickNext();
  const std::string chosen = sandbox->work("chosen/");
  dlg->dirSelectPage->setPath(chosen);
  clickNext();
  ASSERT_EQ(dlg->curState, kStateSuccess);
  // The new catalog, without its trailing separator, heads the list.
  EXPECT_EQ(read_file(sandbox->launcherFile()),
            "ConfigurationTemplatesLocation=" + sandbox->work("chosen") + "\n" +
                "ConfigurationTemplatesLocation=" + missing + "\n" +
                "ConfigurationTemplatesLocation=" + writable + "\n");
  EXPECT_EQ(read_file(chosen + "readme.txt"), "hello\n");
}

std::string base_launcher_file(const Sandbox& box) {
  return box.home() + "/.Qx/qxlauncht/qxlaunch.cfg";
}

std::string catalog_lines(const std::vector<std::string>& catalogs) {
  std::string text;
  for (const std::string& catalog : catalogs) {
    text += "ConfigurationTemplatesLocation=" + catalog + "\n";
  }
  return text;
}

TEST_F(DialogTest, AListReadFromTheBaseFileIsWrittenBackToItAlone) {
  const std::string known = sandbox->work("known");
  make_dirs(known);
  make_dirs(sandbox->home() + "/.Qx/qxlauncht");
  write_file(base_launcher_file(*sandbox), catalog_lines({known}));
  makeDialog();
  openWizard();
  EXPECT_TRUE(dlg->hasBaseCfg);
  EXPECT_TRUE(dlg->listFromBaseCfg);
  EXPECT_EQ(narrow_lib(dlg->catalogPath), known);
  clickNext();
  dlg->dirSelectPage->setPath(sandbox->work("chosen"));
  clickNext();
  ASSERT_EQ(dlg->curState, kStateSuccess);
  EXPECT_EQ(read_file(base_launcher_file(*sandbox)),
            catalog_lines({sandbox->work("chosen"), known}));
  EXPECT_FALSE(file_exists(sandbox->launcherFile())) << "the per-user file is not created";
}

TEST_F(DialogTest, WithBothFilesThePerUserListGoesToBoth) {
  const std::string perUser = sandbox->work("per-user");
  const std::string inBase = sandbox->work("in-base");
  make_dirs(perUser);
  make_dirs(inBase);
  write_launcher_file(*sandbox, {perUser});
  make_dirs(sandbox->home() + "/.Qx/qxlauncht");
  write_file(base_launcher_file(*sandbox), catalog_lines({inBase}));
  makeDialog();
  openWizard();
  EXPECT_TRUE(dlg->hasBaseCfg);
  EXPECT_FALSE(dlg->listFromBaseCfg);
  EXPECT_EQ(narrow_lib(dlg->catalogPath), perUser);
  clickNext();
  dlg->dirSelectPage->setPath(sandbox->work("chosen/"));
  clickNext();
  ASSERT_EQ(dlg->curState, kStateSuccess);
  const std::string expected = catalog_lines({sandbox->work("chosen"), perUser});
  EXPECT_EQ(read_file(sandbox->launcherFile()), expected);
  EXPECT_EQ(read_file(base_launcher_file(*sandbox)), expected);
}

// Three times a 2 GiB kit is more than the free space can ever be reported
// as (it is clamped to 4 GiB - 1). The kit is a hole of zeros, so had it
// been opened first the box would have called it damaged.
TEST_F(DialogTest, TooLittleTemporarySpaceIsReportedBeforeTheKitIsOpened) {
  ASSERT_EQ(truncate((sandbox->kitDir() + "/qxr8.xdk").c_str(), 0x80000000LL), 0);
  makeDialog();
  EXPECT_FALSE(dlg->OnInitDialog());
  ASSERT_EQ(answerer->seen().size(), 1u);
  EXPECT_EQ(answerer->seen()[0].text, res("IDS_ERROR_NOSPACE"));
  // Below it the folder, what the kit needs there (GLib's units) and what is free.
  EXPECT_EQ(answerer->seen()[0].detail.rfind(sandbox->tmp() + "/: 6.4\u00a0GB needed, ", 0), 0u)
      << answerer->seen()[0].detail;
  EXPECT_EQ(answerer->seen()[0].kind, GTK_MESSAGE_ERROR);
  EXPECT_EQ(answerer->seen()[0].buttons, GTK_BUTTONS_OK);
  EXPECT_TRUE(dlg->kitReader.entries.empty());
  EXPECT_TRUE(list_dir(sandbox->tmp()).empty()) << "nothing was unpacked";
  EXPECT_EQ(dlg->window, nullptr);
}

TEST_F(DialogTest, CleansAProposedCatalogThatCarriesAFileScheme) {
  // "file:///abs" read as a relative path is ./file:/abs; once that exists
  // and can be written to, it is the proposal, which the clean-up turns
  // into the absolute path.
  const std::string target = sandbox->work("target");
  make_dirs(target);
  make_dirs(sandbox->kitDir() + "/file:" + target);
  write_launcher_file(*sandbox, {"file://" + target});
  makeDialog();
  ASSERT_TRUE(dlg->OnInitDialog());
  EXPECT_EQ(narrow_lib(dlg->catalogPath), target);
}

TEST_F(DialogTest, AnEmptiedProposalLeavesTheEntryEmptyAndNextRefusesIt) {
  make_dirs(sandbox->kitDir() + "/http:/host/tmplts");
  write_launcher_file(*sandbox, {"http://host/tmplts"});
  makeDialog();
  openWizard();
  EXPECT_TRUE(dlg->catalogPath.empty());
  clickNext();
  EXPECT_EQ(dlg->dirSelectPage->getPath(), u"");
  clickNext();
  ASSERT_EQ(answerer->seen().size(), 1u);
  EXPECT_EQ(answerer->seen()[0].text, res("IDS_SETUP_EMPTYTARGET"));
  EXPECT_EQ(answerer->seen()[0].kind, GTK_MESSAGE_OTHER);
  EXPECT_EQ(answerer->seen()[0].parent, GTK_WINDOW(dlg->window));
  EXPECT_EQ(answerer->seen()[0].buttons, GTK_BUTTONS_OK);
  EXPECT_EQ(dlg->curState, kStateSelectDir);
  EXPECT_EQ(dlg->dirSelectPage->getPath(), u"");
  EXPECT_EQ(read_file(sandbox->launcherFile()), "ConfigurationTemplatesLocation=http://host/tmplts\n");
}

TEST_F(DialogTest, ATypedPathHasItsBackslashesTurnedIntoSlashes) {
  makeDialog();
  openWizard();
  clickNext();
  const std::string typed = sandbox->work("typed\\cat\\alog");
  dlg->dirSelectPage->setPath(typed);
  EXPECT_EQ(narrow_lib(dlg->dirSelectPage->getPath()), typed) << "the page keeps it as typed";
  clickNext();
  EXPECT_EQ(narrow_lib(dlg->catalogPath), sandbox->work("typed/cat/alog"));
  ASSERT_EQ(dlg->curState, kStateSuccess);
  EXPECT_EQ(read_file(sandbox->work("typed/cat/alog/docs/en.html")), "<p>en</p>");
}

TEST_F(DialogTest, MissingKitIsReportedBeforeAnyWindow) {
  ASSERT_EQ(remove((sandbox->kitDir() + "/qxr8.xdk").c_str()), 0);
  makeDialog();
  EXPECT_FALSE(dlg->OnInitDialog());
  ASSERT_EQ(answerer->seen().size(), 1u);
  EXPECT_EQ(answerer->seen()[0].text, res("IDS_ERROR_NOSOURCE"));
  EXPECT_EQ(answerer->seen()[0].detail,
            sandbox->kitDir() + "/qxr8.xdk: " + g_strerror(ENOENT) + " (2)");
  EXPECT_EQ(answerer->seen()[0].kind, GTK_MESSAGE_ERROR);
  EXPECT_EQ(answerer->seen()[0].title, res("IDR_MAINFRAME"));
  EXPECT_EQ(dlg->window, nullptr);
}

TEST_F(DialogTest, DamagedKitIsReportedAndLeavesNoTemporaryFile) {
  write_file(sandbox->kitDir() + "/qxr8.xdk", std::string("\xff\xfe not a deflate stream", 23));
  makeDialog();
  dlg->DoModal();
  ASSERT_EQ(answerer->seen().size(), 1u);
  EXPECT_EQ(answerer->seen()[0].text, res("IDS_ERROR_DAMAGEDSOURCE"));
  EXPECT_EQ(dlg->window, nullptr);
  EXPECT_EQ(dlg->curState, kStateNone);
  EXPECT_TRUE(list_dir(sandbox->tmp()).empty());
}

TEST_F(DialogTest, AKitChangedAfterItsAuthorSignedItIsRefusedBeforeAnyPage) {
  const std::string kit = sandbox->kitDir() + "/qxr8.xdk";
  test_support::TestSigner author;
  write_file(kit + ".minisig", author.signatureFile(read_file(kit), "Templates by the author"));
  sandbox->setEnv("XDG_CONFIG_HOME", sandbox->home() + "/.config");
  make_dirs(sandbox->home() + "/.config/qxr8/trusted-keys");
  write_file(sandbox->home() + "/.config/qxr8/trusted-keys/author.pub", author.publicKeyFile());
  makeDialog();
  ASSERT_TRUE(dlg->OnInitDialog());
  EXPECT_EQ(dlg->kitOrigin.source, KeySource::kUser);

  // One template changed, every checksum made anew.
  ASSERT_TRUE(write_kit(kit, standard_records(), {{"docs/en.html", "<p>forged</p>", 0}}));
  makeDialog();
  dlg->DoModal();
  ASSERT_EQ(answerer->seen().size(), 1u);
  EXPECT_EQ(answerer->seen()[0].text, res("IDS_ERROR_UNTRUSTEDSOURCE"));
  EXPECT_EQ(answerer->seen()[0].detail, kit + "\nsignature by key " +
                                            key_id_text(author.keyId()) +
                                            ": the signature does not verify: the kit is not "
                                            "the one the key signed");
  EXPECT_EQ(dlg->window, nullptr);
  EXPECT_TRUE(list_dir(sandbox->tmp()).empty());
}

// Opening a FIFO for reading waits for a writer; with none the start-up
// would hang before any window. A watchdog turns such a hang into a failure.
TEST_F(DialogTest, AKitThatIsNotARegularFileIsDamagedAndDoesNotHang) {
  const std::string kit = sandbox->kitDir() + "/qxr8.xdk";
  ASSERT_EQ(remove(kit.c_str()), 0);
  ASSERT_EQ(mkfifo(kit.c_str(), 0600), 0);
  makeDialog();
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> lock(mutex);
    if (!done.wait_for(lock, std::chrono::seconds(20), [&] { return finished; })) {
      std::fprintf(stderr, "the start-up checks hung on a FIFO kit\n");
      std::_Exit(1);
    }
  });
  const bool started = dlg->OnInitDialog();
  {
    std::lock_guard<std::mutex> lock(mutex);
    finished = true;
  }
  done.notify_all();
  watchdog.join();
  EXPECT_FALSE(started);
  ASSERT_EQ(answerer->seen().size(), 1u);
  EXPECT_EQ(answerer->seen()[0].text, res("IDS_ERROR_DAMAGEDSOURCE"));
  EXPECT_TRUE(list_dir(sandbox->tmp()).empty());
}

TEST_F(DialogTest, KitLooksBesideTheExecutableUnlessAskedForTheWorkingDirectory) {
  static char arg0[] = "app_dialog_test";
  static char* argv[] = {arg0, nullptr};
  CInstallerDlg besideExe(1, argv, false, "t", u"en", false);
  char exe[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
  std::string dir(exe);
  dir.resize(dir.rfind('/'));
  EXPECT_EQ(narrow_lib(besideExe.getXdkFullPath()), dir + "/qxr8.xdk");
  makeDialog();
  EXPECT_EQ(narrow_lib(dlg->getXdkFullPath()), sandbox->kitDir() + "/qxr8.xdk");
}

TEST_F(DialogTest, WelcomeTextNamesTheProductOfTheInterfaceLanguage) {
  makeDialog(u"EN");  // differs from the record's "en" only in case
  openWizard();
  EXPECT_EQ(labelText(dlg->welcomePage->label),
            res("IDS_WELCOME_TITLE") + " Report Templates (Qxr8 Labs).\n\n" +
                res("IDS_KIT_UNSIGNED"));
}

TEST_F(DialogTest, WelcomeTextInRussianUsesTheRussianRecord) {
  set_resource_lang(kLangRussian);
  makeDialog(u"ru");
  openWizard();
  EXPECT_EQ(labelText(dlg->welcomePage->label),
            "Добро пожаловать в программу установки продукта Шаблоны отчётов (Лаборатория).\n\n"
            "Эта поставка не подписана.");
  EXPECT_EQ(gtk_button_get_label(GTK_BUTTON(dlg->buttonNext)), std::string("Далее >"));
}

TEST_F(DialogTest, WelcomeTextFallsBackToTheDefaultNamesOneByOne) {
  makeDialog(u"de");
  const std::string unsigned_ = "\n\n" + res("IDS_KIT_UNSIGNED");
  ASSERT_TRUE(dlg->OnInitDialog());
  // No German record: both defaults, although an English record exists.
  EXPECT_EQ(narrow_lib(dlg->welcomeText()),
            res("IDS_WELCOME_TITLE") + " " + res("IDS_DEFPRODUCT") + " (" +
                res("IDS_DEFPROVIDER") + ")." + unsigned_);
  dlg->kitReader.productInfo = {{u"ru", u"x", u"y", u""}, {u"De", u"Vorlagen", u"", u""},
                                {u"de", u"Second", u"Ignored", u""}};
  EXPECT_EQ(narrow_lib(dlg->welcomeText()),
            res("IDS_WELCOME_TITLE") + " Vorlagen (" + res("IDS_DEFPROVIDER") + ")." + unsigned_);
  dlg->kitReader.productInfo = {{u"de", u"", u"Anbieter", u""}};
  EXPECT_EQ(narrow_lib(dlg->welcomeText()),
            res("IDS_WELCOME_TITLE") + " " + res("IDS_DEFPRODUCT") + " (Anbieter)." + unsigned_);
  // An existing page keeps the text it was created with.
  dlg->showMainWindow();
  dlg->showWelcomePage();
  const std::string first = labelText(dlg->welcomePage->label);
  dlg->kitReader.productInfo = {{u"de", u"Neu", u"Neu", u""}};
  dlg->showWelcomePage();
  EXPECT_EQ(labelText(dlg->welcomePage->label), first);
}

TEST_F(DialogTest, AFailedInstallationShowsTheErrorAndLeavesTheCatalogAsItWas) {
  // The kit's readme.txt is newer than the installed one, so it is replaced
  // first; then "sub" is a file where the kit needs a directory.
  const std::string catalog = sandbox->defaultCatalog();
  make_dirs(catalog);
  write_file(catalog + "readme.txt", "old readme\n");
  set_mtime(catalog + "readme.txt", 1500000000);
  write_file(catalog + "sub", "a file in the way\n");
  makeDialog();
  openWizard();
  installFromWelcome();
  ASSERT_EQ(answerer->seen().size(), 1u);
  EXPECT_EQ(answerer->seen()[0].text, res("IDS_INSTALL_ERROR"));
  EXPECT_EQ(answerer->seen()[0].kind, GTK_MESSAGE_ERROR);
  EXPECT_EQ(answerer->seen()[0].parent, GTK_WINDOW(dlg->window));
  // Below it the box says what failed: the file standing where the kit
  // needs a folder, the system's reason, and the code.
  const std::string detail = answerer->seen()[0].detail;
  const std::string path = catalog + "sub: ";
  const std::string code = " (" + std::to_string(dlg->lastCode) + ")";
  ASSERT_GT(detail.size(), path.size() + code.size()) << detail;
  EXPECT_EQ(detail.substr(0, path.size()), path) << detail;
  EXPECT_EQ(detail.substr(detail.size() - code.size()), code) << detail;
  EXPECT_EQ(detail.find('\n'), std::string::npos) << "one line: " << detail;
  EXPECT_EQ(dlg->curState, kStateFailure);
  EXPECT_EQ(dlg->curPage, dlg->errorPage);
  EXPECT_EQ(labelText(dlg->errorPage->label), res("IDS_ERROR_FINISH"));
  EXPECT_EQ(focused(), dlg->buttonNext) << "Finish";
  EXPECT_FALSE(visible(dlg->buttonPrev));
  EXPECT_FALSE(sensitive(dlg->buttonCancel));
  EXPECT_NE(dlg->lastCode, 0u);
  dlg->waitForRollback();
  EXPECT_FALSE(dlg->installThread.isStarted());
  EXPECT_EQ(read_file(catalog + "readme.txt"), "old readme\n");
  EXPECT_EQ(get_mtime(catalog + "readme.txt"), 1500000000);
  EXPECT_EQ(list_dir(catalog), (std::vector<std::string>{"readme.txt", "sub"}));
  EXPECT_FALSE(file_exists(sandbox->launcherFile())) << "a failure registers nothing";
  // Escape on the failure page asks the cancel question too.
  answerer->queue(GTK_RESPONSE_NO);
  EXPECT_TRUE(pressKey(GDK_KEY_Escape));
  ASSERT_EQ(answerer->seen().size(), 2u);
  EXPECT_EQ(answerer->seen()[1].text, res("IDS_ACCEPT_CANCEL"));
  EXPECT_EQ(dlg->curState, kStateFailure);
  EXPECT_NE(dlg->window, nullptr);
}

TEST_F(DialogTest, SilentModeInstallsIntoTheProposedCatalogAndRegistersIt) {
  makeDialog(u"en", true);
  dlg->DoModal();  // no main loop: returns on the final page
  EXPECT_EQ(dlg->curState, kStateSuccess);
  EXPECT_FALSE(visible(dlg->buttonPrev));
  EXPECT_FALSE(visible(dlg->buttonNext)) << "an unattended run never shows Next";
  EXPECT_TRUE(answerer->seen().empty());
  EXPECT_EQ(read_file(sandbox->defaultCatalog() + "docs/ru.html"), "<p>ru</p>");
  std::string catalog = sandbox->defaultCatalog();
  catalog.pop_back();
  EXPECT_EQ(read_file(sandbox->launcherFile()), "ConfigurationTemplatesLocation=" + catalog + "\n");
}

TEST_F(DialogTest, SilentModeFailureShowsTheBoxAndWaitsForTheRollback) {
  const std::string catalog = sandbox->defaultCatalog();
  make_dirs(catalog);
  write_file(catalog + "sub", "in the way\n");
  makeDialog(u"en", true);
  dlg->DoModal();
  ASSERT_EQ(answerer->seen().size(), 1u);
  EXPECT_EQ(answerer->seen()[0].text, res("IDS_INSTALL_ERROR"));
  EXPECT_EQ(dlg->curState, kStateFailure);
  EXPECT_FALSE(visible(dlg->buttonPrev));
  EXPECT_FALSE(visible(dlg->buttonNext));
  EXPECT_EQ(focused(), nullptr) << "Finish is hidden: the focus is on the window, not on it";
  // DoModal came back only after the worker had ended its rollback.
  EXPECT_FALSE(dlg->installThread.isStarted());
  EXPECT_EQ(list_dir(catalog), (std::vector<std::string>{"sub"}));
}

// Key A signed the installed kit, key B the one offered now; only Yes installs.
struct SignerRow { bool silent; int answer; };
class SignerChangeTest : public DialogTest, public ::testing::WithParamInterface<SignerRow> {};
const SignerRow kSignerRows[] = {{false, GTK_RESPONSE_NO}, {false, GTK_RESPONSE_DELETE_EVENT},
                                 {false, GTK_RESPONSE_YES}, {true, GTK_RESPONSE_OK}};
INSTANTIATE_TEST_SUITE_P(Answers, SignerChangeTest, ::testing::ValuesIn(kSignerRows));

TEST_P(SignerChangeTest, AnotherSignerIsAskedAboutWithNoAsDefaultAndRefusedWhenSilent) {
  const SignerRow& row = GetParam();
  const bool installs = row.answer == GTK_RESPONSE_YES;
  const std::string kit = sandbox->kitDir() + "/qxr8.xdk", catalog = sandbox->defaultCatalog();
  const test_support::TestSigner a, b;
  sandbox->setEnv("XDG_CONFIG_HOME", sandbox->path("keys"));
  write_file(sandbox->path("keys/qxr8/trusted-keys/a.pub"), a.publicKeyFile(), 0);
  write_file(sandbox->path("keys/qxr8/trusted-keys/b.pub"), b.publicKeyFile(), 0);
  write_file(kit + ".minisig", a.signatureFile(read_file(kit), "A"));
  makeDialog(u"en", true);
  dlg->DoModal();  // records key A
  ASSERT_TRUE(write_kit(kit, standard_records(), {{"readme.txt", "again\n", 1700000000}}));
  write_file(kit + ".minisig", b.signatureFile(read_file(kit), "B"));
  const auto before = test_support::snapshot_tree(catalog);
  makeDialog(u"en", row.silent);
  answerer->queue(row.answer);
  if (!row.silent) openWizard();
  row.silent ? dlg->DoModal() : installFromWelcome();
  ASSERT_EQ(answerer->seen().size(), 1u);
  EXPECT_EQ(answerer->seen()[0].text,
            res(row.silent ? "IDS_SIGNER_CHANGE_REFUSED" : "IDS_SIGNER_CHANGED"));
  EXPECT_TRUE(row.silent || answerer->seen()[0].defaultResponse == GTK_RESPONSE_NO);
  EXPECT_EQ(answerer->seen()[0].detail,
            "The copy in " + catalog.substr(0, catalog.size() - 1) + " is signed with key " +
                key_id_text(a.keyId()) + ".\nThis distribution package is signed with key " +
                key_id_text(b.keyId()) + ".");
  EXPECT_EQ(dlg->exitStatus, row.silent ? 1 : 0);
  EXPECT_EQ(dlg->curState, installs ? kStateSuccess : row.silent ? kStateNone : kStateSelectDir);
  EXPECT_EQ(read_file(catalog + "readme.txt"), installs ? "again\n" : "hello\n");
  EXPECT_EQ(test_support::snapshot_tree(catalog) == before, !installs);
}

// The polling loop must notice the end of the run although no X event ever
// arrives: here nothing else is queued (no timers, no answerer), and the
// worker is held before its final post, so a blocking iteration would wait
// for ever. A watchdog turns such a hang into a failure.
TEST_F(DialogTest, PollingGoesOnWhenNothingIsQueued) {
  makeDialog();
  answerer.reset();
  openWizard();
  clickNext();
  pump_events(100);
  dlg->processData.setStateListener([](unsigned, const wstring&, int percent) {
    if (percent == 100) g_usleep(400000);
  });
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> lock(mutex);
    if (!done.wait_for(lock, std::chrono::seconds(30), [&] { return finished; })) {
      std::fprintf(stderr, "the polling loop stalled\n");
      std::_Exit(1);
    }
  });
  clickNext();
  {
    std::lock_guard<std::mutex> lock(mutex);
    finished = true;
  }
  done.notify_all();
  watchdog.join();
  EXPECT_EQ(dlg->curState, kStateSuccess);
}

}  // namespace
}  // namespace app_test
