// The shared install state, the worker thread and the headless driver, with
// real threads (this test also runs under ThreadSanitizer).
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "install/headless_install.h"
#include "install/install_process_data.h"
#include "install/install_thread.h"
#include "install/sleep.h"
#include "platform/string_utils.h"
#include "platform/text_encoding.h"
#include "res/string_table.h"
#include "tests/support/file_io.h"
#include "tests/support/file_tree.h"
#include "tests/support/kit_builder.h"
#include "tests/support/sandbox.h"
#include "tests/support/temp_dir.h"

using namespace test_support;

namespace {

TEST(InstallProcessDataTest, InitNormalisesTheCatalogAndResetsTheRun) {
  InstallProcessData data;
  unsigned code = 1;
  wstring text = u"x";
  int percent = 1;
  data.getInstallState(code, text, percent);
  EXPECT_EQ(0u, code);
  EXPECT_EQ(u"", text);
  EXPECT_EQ(0, percent);

  KitReader kit;
  KitReader* got = nullptr;
  wstring dir;
  const std::vector<std::pair<wstring, wstring>> cases = {
      {u"/srv/tmplts", u"/srv/tmplts/"},
      {u"/srv/tmplts/", u"/srv/tmplts/"},
      {u"C:\\tmplts\\", u"C:\\tmplts\\"},
      {u"", u""},
  };
  for (const auto& c : cases) {
    data.setInstallState(7, u"posted", 42);
    data.setCancel(true);
    data.init(&kit, c.first);
    data.get(got, dir);
    EXPECT_EQ(&kit, got);
    EXPECT_EQ(c.second, dir);
    EXPECT_FALSE(data.isCancelled());
    data.getInstallState(code, text, percent);
    EXPECT_EQ(0u, code);
    EXPECT_EQ(u"posted", text) << "init keeps the text";
    EXPECT_EQ(0, percent);
  }
}

TEST(InstallProcessDataTest, AReaderNeverSeesHalfOfAPost) {
  InstallProcessData data;
  constexpr unsigned kPosts = 20000;
  std::atomic<bool> done(false);
  std::thread writer([&] {
    for (unsigned i = 1; i <= kPosts; ++i) {
      // The text grows and shrinks so that a torn copy would show.
      const wstring text = string_uito(i, 10) + wstring(i % 97, u'#');
      data.setInstallState(i, text, static_cast<int>(i % 101));
    }
    done = true;
  });
  unsigned checked = 0;
  unsigned last = 0;
  while (!done || checked == 0) {
    unsigned code = 0;
    wstring text;
    int percent = 0;
    data.getInstallState(code, text, percent);
    if (code == 0) continue;
    ASSERT_GE(code, last);
    ASSERT_EQ(string_uito(code, 10) + wstring(code % 97, u'#'), text);
    ASSERT_EQ(static_cast<int>(code % 101), percent);
    last = code;
    ++checked;
  }
  writer.join();
  EXPECT_GT(checked, 0u);
}

class CountingWorker : public IInstallWorker {
 public:
  explicit CountingWorker(int runsBeforeFalse, InstallThread* stopper = nullptr)
      : m_left(runsBeforeFalse), m_stopper(stopper) {}
  bool updateProgress() override {
    calls.fetch_add(1);
    if (m_stopper != nullptr) m_stopper->stop();
    return --m_left > 0;
  }
  std::atomic<int> calls{0};

 private:
  int m_left;
  InstallThread* m_stopper;
};

TEST(InstallThreadTest, RunsTheWorkerUntilItAnswersFalseAndCanBeWaitedFor) {
  InstallThread thread;
  EXPECT_EQ(-1, thread.lastStartError());
  thread.wait();  // nothing started: returns at once

  CountingWorker once(1);
  ASSERT_EQ(0, thread.start(&once));
  EXPECT_TRUE(thread.isStarted());
  thread.wait();
  EXPECT_FALSE(thread.isStarted());
  EXPECT_EQ(1, once.calls.load());
  thread.wait();

  CountingWorker thrice(3);
  ASSERT_EQ(0, thread.start(&thrice));
  thread.wait();
  EXPECT_EQ(3, thrice.calls.load());

  // A stop is seen between runs: the worker asks for one during its first.
  CountingWorker stopping(5, &thread);
  ASSERT_EQ(0, thread.start(&stopping));
  thread.wait();
  EXPECT_EQ(1, stopping.calls.load());
  EXPECT_EQ(0, thread.lastStartError());
}

class HeadlessTest : public ::testing::Test {
 protected:
  Sandbox env;
  TempDir work;
  TempDir catalog;
};

struct Seen {
  unsigned code;
  std::string text;
  int percent;
};

TEST_F(HeadlessTest, PollsTheWorkerToTheEndOfASuccessfulRun) {
  std::vector<KitFile> files;
  for (int i = 0; i < 40; ++i) {
    files.push_back({"dir" + std::to_string(i % 5) + "/file" + std::to_string(i) + ".txt",
                     std::string(20000 + i, static_cast<char>('a' + i % 26)), 1700000000 + i});
  }
  const std::string kitPath = make_kit(work.path(), "kit", files);
  KitReader kit;
  ASSERT_EQ(0u, kit.open(widen_lib(kitPath)));

  std::vector<Seen> seen;
  std::vector<Seen> posted;
  InstallOutcome outcome;
  {
    HeadlessInstall install(kit, widen_lib(catalog.path()));
    install.processData().setStateListener([&posted](unsigned code, const wstring& text, int p) {
      posted.push_back(Seen{code, narrow_lib(text), p});
    });
    outcome = install.run(
        [&seen](const InstallState& state) {
          seen.push_back(Seen{state.code, narrow_lib(state.text), state.percent});
        },
        1);
    install.wait();  // the test's objects must outlive the worker's pause
  }
  EXPECT_EQ(0u, outcome.code);
  EXPECT_EQ(100, outcome.percent);
  EXPECT_EQ(LoadResString("IDS_INSTALL_FINISH"), outcome.text);

  // The poll sees a subsequence of what was posted (the prepared state and
  // then the worker's), rising, ending with the finish.
  ASSERT_FALSE(seen.empty());
  size_t next = 0;
  for (const Seen& s : seen) {
    while (next < posted.size() &&
           !(posted[next].text == s.text && posted[next].percent == s.percent)) {
      ++next;
    }
    ASSERT_LT(next, posted.size()) << "polled a state never posted: " << s.text;
  }
  for (size_t i = 1; i < seen.size(); ++i) EXPECT_LE(seen[i - 1].percent, seen[i].percent);
  EXPECT_EQ(100, seen.back().percent);
  EXPECT_EQ(narrow_lib(LoadResString("IDS_PREPARECOPY")), posted.front().text);
  ASSERT_EQ(files.size() + 2, posted.size());  // prepare, one per entry, finish
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(catalog / files[i].name, posted[i + 1].text);
    EXPECT_EQ(static_cast<int>(i * 100 / files.size()), posted[i + 1].percent);
  }
  for (const KitFile& f : files) {
    EXPECT_EQ(f.content, contents_of(catalog / f.name));
    EXPECT_EQ(f.mtime, get_mtime(catalog / f.name));
  }
  EXPECT_TRUE(list_tree(env.tmp()).empty());
}

TEST_F(HeadlessTest, AfterAFailureItReturnsOnlyOnceTheRollbackIsDone) {
  std::vector<KitFile> files;
  for (int i = 0; i < 30; ++i) {
    files.push_back({"f" + std::to_string(i) + ".txt", "new", 5000});
    write_file(catalog / ("f" + std::to_string(i) + ".txt"), "old " + std::to_string(i), 1000);
  }
  files.push_back({"blocked", "x", 5000});
  make_dirs(catalog / "blocked/user");
  const auto before = snapshot_tree(catalog.path());
  const std::string kitPath = make_kit(work.path(), "kit", files);
  KitReader kit;
  ASSERT_EQ(0u, kit.open(widen_lib(kitPath)));

  HeadlessInstall install(kit, widen_lib(catalog.path()));
  const InstallOutcome outcome = install.run({}, 1);
  EXPECT_EQ(183u, outcome.code);
  EXPECT_EQ(LoadResString("IDS_INSTALL_ERROR"), outcome.text);
  EXPECT_EQ(static_cast<int>(30 * 100 / 31), outcome.percent);
  EXPECT_EQ(before, snapshot_tree(catalog.path()));
  EXPECT_TRUE(list_tree(env.tmp()).empty());
}

TEST_F(HeadlessTest, TheOutcomeNamesWhatFailedAndCountsWhatWasDone) {
  write_file(catalog / "old.txt", "old", 1000);
  write_file(catalog / "same.txt", "same", 5000);
  const std::string good = make_kit(
      work.path(), "good", {{"old.txt", "twelve bytes", 5000}, {"same.txt", "SAME", 5000},
                     {"new/a.txt", "abc", 5000}});
  KitReader kit;
  ASSERT_EQ(0u, kit.open(widen_lib(good)));
  {
    HeadlessInstall install(kit, widen_lib(catalog.path()));
    const InstallOutcome outcome = install.run({}, 1);
    install.wait();
    ASSERT_EQ(0u, outcome.code);
    EXPECT_EQ(0u, outcome.failure.code);
    EXPECT_EQ(1u, outcome.stats.filesNew);
    EXPECT_EQ(1u, outcome.stats.filesReplaced);
    EXPECT_EQ(1u, outcome.stats.filesUpToDate);
    EXPECT_EQ(15u, outcome.stats.bytesWritten);
  }

  // A file stands where a folder of the next kit must go: the failure names
  // that file, not the folder that could not be made below it.
  write_file(catalog / "forms", "a file where a folder must go", 1000);
  const std::string bad =
      make_kit(work.path(), "bad", {{"z.txt", "z", 5000}, {"forms/orders/order.frm", "o", 5000}});
  KitReader badKit;
  ASSERT_EQ(0u, badKit.open(widen_lib(bad)));
  HeadlessInstall install(badKit, widen_lib(catalog.path()));
  const InstallOutcome outcome = install.run({}, 1);
  EXPECT_EQ(3u, outcome.code);
  EXPECT_EQ(3u, outcome.failure.code);
  EXPECT_EQ(catalog / "forms", narrow_lib(outcome.failure.path));
  EXPECT_EQ(1u, outcome.stats.filesNew);
  EXPECT_EQ(1u, outcome.stats.bytesWritten);
  const std::string text = narrow_lib(describe_failure(outcome.failure));
  EXPECT_EQ(0u, text.find(catalog / "forms: ")) << text;
  EXPECT_EQ(text.size() - 4, text.find(" (3)")) << text;
  EXPECT_FALSE(file_exists(catalog / "z.txt"));
}

TEST_F(HeadlessTest, ACancelThroughTheSharedStateEndsThePoll) {
  write_file(catalog / "keep.txt", "kept", 1000);
  const auto before = snapshot_tree(catalog.path());
  const std::string kitPath = make_kit(
      work.path(), "kit", {{"keep.txt", "new", 5000}, {"x/y.txt", "y", 5000}, {"z.txt", "z", 5000}});
  KitReader kit;
  ASSERT_EQ(0u, kit.open(widen_lib(kitPath)));

  HeadlessInstall install(kit, widen_lib(catalog.path()));
  InstallProcessData& data = install.processData();
  data.setStateListener([&data](unsigned, const wstring&, int percent) {
    if (percent == 33) data.setCancel(true);
  });
  const InstallOutcome outcome = install.run({}, 1);
  EXPECT_EQ(1223u, outcome.code);
  EXPECT_EQ(LoadResString("IDS_CANCEL_FINISH"), outcome.text);
  EXPECT_EQ(before, snapshot_tree(catalog.path()));
  EXPECT_TRUE(list_tree(env.tmp()).empty());
}

TEST_F(HeadlessTest, AnInterruptSeenByThePollCancelsAndRollsBack) {
  write_file(catalog / "a.txt", "original", 1000);
  const auto before = snapshot_tree(catalog.path());
  const std::string kitPath =
      make_kit(work.path(), "kit", {{"a.txt", "new", 5000}, {"b/c.txt", "c", 5000}});
  KitReader kit;
  ASSERT_EQ(0u, kit.open(widen_lib(kitPath)));

  HeadlessInstall install(kit, widen_lib(catalog.path()));
  InstallProcessData& data = install.processData();
  // The worker holds entry 0 until the poll has passed the interrupt on, so
  // that the cancel is certainly seen after a written file.
  const wstring first = widen_lib(catalog / "a.txt");
  data.setStateListener([&data, &first](unsigned, const wstring& text, int) {
    if (text != first) return;
    for (int i = 0; i < 1000 && !data.isCancelled(); ++i) Sleep(10);
  });
  std::atomic<int> asked(0);
  const InstallOutcome outcome = install.run({}, 1, [&asked] {
    asked.fetch_add(1);
    return true;
  });
  EXPECT_EQ(1223u, outcome.code);
  EXPECT_GE(asked.load(), 1);
  EXPECT_EQ(before, snapshot_tree(catalog.path()));
  EXPECT_TRUE(list_tree(env.tmp()).empty());
}

}  // namespace
