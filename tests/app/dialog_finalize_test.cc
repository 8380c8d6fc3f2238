// The Finish button: which description is opened, and when nothing is. The
// viewer is a real process, a stand-in xdg-open first in PATH that records
// the arguments it was started with.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "dialog_fixture.h"

namespace app_test {
namespace {

class FinalizeTest : public DialogTest {
 protected:
  // Installs a kit with `kitRecords` and the documents they name, and
  // stops on the success page.
  void installWith(const std::vector<config::KitProductInfo>& kitRecords,
                   const wstring& interfaceLang) {
    std::vector<KitFile> files = {{"docs/en.html", "en", 1600000000},
                                  {"docs/ru.html", "ru", 1600000000},
                                  {"docs/a b;$(touch pwned)'x\".html", "odd", 1600000000}};
    ASSERT_TRUE(write_kit(sandbox->kitDir() + "/qxr8.xdk", kitRecords, files));
    makeDialog(interfaceLang);
    openWizard();
    installFromWelcome();
    ASSERT_EQ(dlg->curState, kStateSuccess);
  }

  std::vector<std::string> finishAndRecord(int waitMs = 5000) {
    clickNext();
    EXPECT_EQ(dlg->window, nullptr) << "Finish closes the window";
    return wait_for_viewer(sandbox->viewerLog(), waitMs);
  }

  std::vector<std::string> opened(const std::string& relative) const {
    return {"argc=1", sandbox->defaultCatalog() + relative};
  }
};

TEST_F(FinalizeTest, OpensTheDescriptionOfTheInterfaceLanguage) {
  installWith({{u"en", u"P", u"V", u"docs/en.html"}, {u"ru", u"P", u"V", u"docs\\ru.html"}},
              u"ru");
  EXPECT_EQ(finishAndRecord(), opened("docs/ru.html"));
}

TEST_F(FinalizeTest, FallsBackToTheEnglishDescriptionForAnotherLanguage) {
  installWith({{u"ru", u"P", u"V", u"docs/ru.html"}, {u"EN", u"P", u"V", u"docs/en.html"}},
              u"de");
  EXPECT_EQ(finishAndRecord(), opened("docs/en.html"));
}

TEST_F(FinalizeTest, FallsBackToEnglishWhenTheLanguageRecordHasNoDescription) {
  installWith({{u"ru", u"P", u"V", u""}, {u"en", u"P", u"V", u"docs/en.html"}}, u"ru");
  EXPECT_EQ(finishAndRecord(), opened("docs/en.html"));
}

TEST_F(FinalizeTest, OnlyTheFirstRecordOfTheLanguageCounts) {
  installWith({{u"ru", u"P", u"V", u""},
               {u"ru", u"P", u"V", u"docs/ru.html"},
               {u"en", u"P", u"V", u"docs/en.html"}},
              u"ru");
  EXPECT_EQ(finishAndRecord(), opened("docs/en.html"));
}

// The catalog and the description are joined by exactly one "/": a catalog
// typed without a final "/", typed with one, or picked in the folder
// chooser (which never gives one) all open the same document.
TEST_F(FinalizeTest, OpensTheDescriptionWhateverTheCatalogEndsWith) {
  const std::string catalog = sandbox->work("catalog");
  make_dirs(catalog);
  ASSERT_TRUE(write_kit(sandbox->kitDir() + "/qxr8.xdk", {{u"en", u"P", u"V", u"docs\\en.html"}},
                        {{"docs/en.html", "en", 1600000000}}));
  for (const std::string how : {"typed", "typed/", "picked"}) {
    SCOPED_TRACE(how);
    remove(sandbox->viewerLog().c_str());
    makeDialog();
    openWizard();
    clickNext();
    if (how == "picked") {
      ChooserAnswer answer;
      answer.folder = catalog;
      g_timeout_add(50, answer_chooser, &answer);
      gtk_button_clicked(GTK_BUTTON(dlg->dirSelectPage->browseButton));
      ASSERT_EQ(narrow_lib(dlg->dirSelectPage->getPath()), catalog);
    } else {
      dlg->dirSelectPage->setPath(how == "typed" ? catalog : catalog + "/");
    }
    clickNext();
    ASSERT_EQ(dlg->curState, kStateSuccess);
    EXPECT_EQ(finishAndRecord(), (std::vector<std::string>{"argc=1", catalog + "/docs/en.html"}));
  }
}

TEST_F(FinalizeTest, HandsAPathWithShellCharactersOverAsOneArgument) {
  installWith({{u"en", u"P", u"V", u"docs/a b;$(touch pwned)'x\".html"}}, u"en");
  EXPECT_EQ(finishAndRecord(), opened("docs/a b;$(touch pwned)'x\".html"));
  EXPECT_FALSE(file_exists(sandbox->kitDir() + "/pwned"));
  EXPECT_FALSE(file_exists(sandbox->defaultCatalog() + "docs/pwned"));
}

TEST_F(FinalizeTest, OpensNothingWhenTheCheckBoxIsSwitchedOff) {
  installWith({{u"en", u"P", u"V", u"docs/en.html"}}, u"en");
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(dlg->successPage->openDescrCheck), FALSE);
  EXPECT_FALSE(dlg->successPage->isShowReadmeChecked());
  EXPECT_TRUE(finishAndRecord(800).empty());
}

// A description that cannot be opened is said to be so: which file, and
// why, in a box in front of the wizard, which then ends all the same.
TEST_F(FinalizeTest, OpensNothingWhenTheDescriptionIsMissing) {
  installWith({{u"en", u"P", u"V", u"docs/not-in-the-kit.html"}}, u"en");
  GtkWindow* wizard = GTK_WINDOW(dlg->window);
  EXPECT_TRUE(finishAndRecord(800).empty());
  ASSERT_EQ(answerer->seen().size(), 1u);
  EXPECT_EQ(answerer->seen()[0].text, res("IDS_OPENDESCR_FAILED"));
  EXPECT_EQ(answerer->seen()[0].detail, opened("docs/not-in-the-kit.html")[1] + "\n" + strerror(ENOENT));
  EXPECT_EQ(answerer->seen()[0].parent, wizard);
  // Without an opener in PATH (the sandbox puts PATH back).
  installWith({{u"en", u"P", u"V", u"docs/en.html"}}, u"en");
  setenv("PATH", sandbox->work().c_str(), 1);
  EXPECT_TRUE(finishAndRecord(300).empty());
  EXPECT_EQ(answerer->seen().back().detail, opened("docs/en.html")[1] + "\nxdg-open: " + strerror(ENOENT));
}

TEST_F(FinalizeTest, DoesNothingOutsideTheFinalPages) {
  ASSERT_TRUE(write_kit(sandbox->kitDir() + "/qxr8.xdk", standard_records(), standard_files()));
  makeDialog();
  openWizard();
  dlg->finalize();
  EXPECT_NE(dlg->window, nullptr);
  EXPECT_EQ(dlg->curState, kStateWelcome);
}

TEST_F(FinalizeTest, OpensNothingFromTheFailurePage) {
  make_dirs(sandbox->defaultCatalog());
  write_file(sandbox->defaultCatalog() + "docs", "in the way\n");
  ASSERT_TRUE(write_kit(sandbox->kitDir() + "/qxr8.xdk", standard_records(), standard_files()));
  makeDialog();
  openWizard();
  installFromWelcome();
  ASSERT_EQ(dlg->curState, kStateFailure);
  EXPECT_TRUE(finishAndRecord(800).empty());
}

}  // namespace
}  // namespace app_test
