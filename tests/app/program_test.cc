// The whole program under X: build/bin/setup started as its own process
// with a private HOME and TMPDIR, driven with xdotool on the wizard's fixed
// button positions.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app_test_support.h"
#include "tests/support/child_process.h"
#include "tests/support/test_locale.h"

namespace app_test {
namespace {

const std::string kSetup = std::string(QXR8_BINARY_DIR) + "/bin/setup";
// Centres of the buttons in the window (Part of the fixed layout).
constexpr int kNextX = 310 + 40, kCancelX = 410 + 40, kButtonsY = 320 + 15;

// Runs a tool to its end and returns what it printed (no shell; its
// standard error discarded).
std::string run_capture(const std::vector<std::string>& argv) {
  test_support::ChildOptions options;
  options.err = test_support::Stream::kDiscard;
  return test_support::run_program(argv, options).out;
}

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// One run of the setup program.
class SetupProcess {
 public:
  // `extraEnv` holds NAME=value entries that replace the sandbox's ones.
  SetupProcess(const Sandbox& box, std::vector<std::string> args, const std::string& cwd,
               bool withDisplay = true, const std::string& program = kSetup,
               const std::vector<std::string>& extraEnv = {})
      : m_child(command(program, args), options(box, cwd, withDisplay, extraEnv)) {}

  // The exit status, or -1 when the process was still running after
  // `timeoutMs` (or ended by a signal).
  int waitExit(int timeoutMs) { return m_child.waitFor(timeoutMs) ? m_child.wait().status : -1; }

  // How it ended; nullptr when it was still running after `timeoutMs`.
  const test_support::ChildResult* waitEnd(int timeoutMs) {
    return m_child.waitFor(timeoutMs) ? &m_child.wait() : nullptr;
  }

  // The visible windows of this process with their sizes.
  struct Window {
    std::string id;
    int width, height;
  };
  std::vector<Window> windows() const {
    std::vector<Window> found;
    std::istringstream ids(
        run_capture({"xdotool", "search", "--onlyvisible", "--pid", std::to_string(pid())}));
    for (std::string id; ids >> id;) {
      std::istringstream shell(run_capture({"xdotool", "getwindowgeometry", "--shell", id}));
      Window w{id, 0, 0};
      for (std::string line; std::getline(shell, line);) {
        if (line.rfind("WIDTH=", 0) == 0) w.width = std::atoi(line.c_str() + 6);
        if (line.rfind("HEIGHT=", 0) == 0) w.height = std::atoi(line.c_str() + 7);
      }
      found.push_back(w);
    }
    return found;
  }

  // Waits for the 500 x 360 wizard window (true) or a message box (false).
  std::string waitForWindow(bool wizard, int timeoutMs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      for (const Window& w : windows()) {
        const bool isWizard = w.width == 500 && w.height == 360;
        if (isWizard == wizard) return w.id;
      }
      sleep_ms(100);
    }
    return std::string();
  }

  // Waits until no message box of this process is visible any more.
  bool waitForNoBox(int timeoutMs) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
      bool box = false;
      for (const Window& w : windows()) box = box || !(w.width == 500 && w.height == 360);
      if (!box) return true;
      sleep_ms(100);
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
  }

  std::string stderrText() const { return m_child.err(); }
  pid_t pid() const { return m_child.pid(); }

 private:
  static std::vector<std::string> command(const std::string& program,
                                          const std::vector<std::string>& args) {
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }
  static test_support::ChildOptions options(const Sandbox& box, const std::string& cwd,
                                            bool withDisplay,
                                            const std::vector<std::string>& extraEnv) {
    std::vector<std::string> changes = extraEnv;
    if (!withDisplay) changes.push_back("DISPLAY");
    test_support::ChildOptions options;
    options.cwd = cwd;
    options.environment = test_support::changed_environment(box.childEnvironment(), changes);
    return options;
  }

  // Killed, should the test end before the program, by its destructor.
  test_support::Child m_child;
};

void click(const std::string& window, int x, int y) {
  run_capture({"xdotool", "mousemove", "--window", window, std::to_string(x), std::to_string(y),
               "sleep", "0.2", "click", "1"});
  sleep_ms(300);
}

// Keyboard input goes to the window under the pointer (no window manager).
void key(const std::string& window, const char* name) {
  run_capture({"xdotool", "mousemove", "--window", window, "20", "20", "sleep", "0.2", "key",
               name});
  sleep_ms(300);
}

// The program's accessibility tree as a screen reader sees it
// (tests/app/atspi_tree.py) holds each of `lines`: role, name, states
// (focused, checked, showing), value and label, tab-separated. False, with
// nothing checked, where no reader can run (no pyatspi, no Python).
const std::string kTreeReader = std::string(QXR8_SOURCE_DIR) + "/tests/app/atspi_tree.py";
bool expect_seen(pid_t pid, const std::vector<std::string>& lines) {
  const test_support::ChildResult tree = test_support::run_program({kTreeReader, std::to_string(pid)});
  if (tree.status == 77 || tree.status == 127) return false;
  for (const std::string& line : lines)
    EXPECT_NE(("\n" + tree.out).find("\n" + line + "\n"), std::string::npos) << line << " not in\n" << tree.out;
  return true;
}

bool wait_for_file(const std::string& path, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!file_exists(path) && std::chrono::steady_clock::now() < deadline) sleep_ms(100);
  return file_exists(path);
}

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(file_exists(kSetup)) << kSetup;
    box = std::make_unique<Sandbox>();
    records = {{u"en", u"Report Templates", u"Qxr8 Labs", u"docs\\en.html"},
               {u"ru", u"Шаблоны", u"Лаборатория", u"docs/ru.html"}};
    files = {{"readme.txt", "hello\n", 1600000000},
             {"docs/en.html", "<p>en</p>", 1600000000},
             {"docs/ru.html", "<p>ru</p>", 1600000000},
             {"sub/report.cfg", "x=1\n", 1600000000}};
  }
  void writeKit() { ASSERT_TRUE(write_kit(box->kitDir() + "/qxr8.xdk", records, files)); }
  std::string catalogNoSlash() const {
    std::string c = box->defaultCatalog();
    c.pop_back();
    return c;
  }

  std::unique_ptr<Sandbox> box;
  std::vector<config::KitProductInfo> records;
  std::vector<KitFile> files;
};

TEST_F(ProgramTest, SilentInstallIntoTheDefaultCatalogRegistersIt) {
  writeKit();
  SetupProcess setup(*box, {"usecwd", "-S"}, box->kitDir());
  EXPECT_EQ(setup.waitExit(30000), 0);
  EXPECT_EQ(read_file(box->defaultCatalog() + "sub/report.cfg"), "x=1\n");
  EXPECT_EQ(get_mtime(box->defaultCatalog() + "readme.txt"), 1600000000);
  EXPECT_EQ(read_file(box->launcherFile()), "ConfigurationTemplatesLocation=" + catalogNoSlash() + "\n");
  EXPECT_TRUE(list_dir(box->tmp()).empty()) << "no unpacked kit or backup left behind";
}

TEST_F(ProgramTest, SilentInstallFindsTheKitBesideTheExecutable) {
  writeKit();
  const std::string copy = box->kitDir() + "/setup";
  write_file(copy, read_file(kSetup));
  chmod(copy.c_str(), 0755);
  SetupProcess setup(*box, {"/silent"}, box->work(), true, copy);
  EXPECT_EQ(setup.waitExit(30000), 0);
  EXPECT_EQ(read_file(box->defaultCatalog() + "readme.txt"), "hello\n");
}

// The executable's link is longer than the 260 bytes read at first.
TEST_F(ProgramTest, SilentInstallFindsTheKitBesideAnExecutableInADeepDirectory) {
  std::string deep = box->root() + "/deep";
  for (int i = 0; i < 4; ++i) deep += "/" + std::string(80, static_cast<char>('a' + i));
  ASSERT_GT(deep.size(), 300u);
  make_dirs(deep);
  ASSERT_TRUE(write_kit(deep + "/qxr8.xdk", records, files));
  const std::string copy = deep + "/setup";
  write_file(copy, read_file(kSetup));
  chmod(copy.c_str(), 0755);
  SetupProcess setup(*box, {"-S"}, box->work(), true, copy);
  EXPECT_EQ(setup.waitExit(30000), 0);
  EXPECT_EQ(read_file(box->defaultCatalog() + "readme.txt"), "hello\n");
}

// A folder name that is not valid in the locale (a Latin-1 byte under
// UTF-8) once made the kit beside the executable "not found".
TEST_F(ProgramTest, SilentInstallFindsTheKitBesideAnExecutableInALatin1Folder) {
  const std::string folder = box->root() + "/caf\xE9";
  make_dirs(folder);
  ASSERT_TRUE(write_kit(folder + "/qxr8.xdk", records, files));
  const std::string copy = folder + "/setup";
  write_file(copy, read_file(kSetup));
  chmod(copy.c_str(), 0755);
  SetupProcess setup(*box, {"-S"}, box->work(), true, copy);
  EXPECT_EQ(setup.waitExit(30000), 0);
  EXPECT_EQ(read_file(box->defaultCatalog() + "readme.txt"), "hello\n");
}

TEST_F(ProgramTest, InteractiveInstallWithNextNextFinishOpensTheDescription) {
  writeKit();
  SetupProcess setup(*box, {"usecwd"}, box->kitDir());
  const std::string window = setup.waitForWindow(true, 15000);
  ASSERT_FALSE(window.empty()) << "no wizard window; exit " << setup.waitExit(0) << ": "
                               << setup.stderrText();
  EXPECT_EQ(run_capture({"xdotool", "getwindowname", window}), "Installing configuration\n");
  click(window, kNextX, kButtonsY);  // welcome -> catalog
  click(window, kNextX, kButtonsY);  // catalog -> installation
  ASSERT_TRUE(wait_for_file(box->launcherFile(), 15000)) << "the success page registers";
  sleep_ms(300);
  click(window, kNextX, kButtonsY);  // Finish
  EXPECT_EQ(setup.waitExit(10000), 0);
  EXPECT_EQ(read_file(box->defaultCatalog() + "docs/en.html"), "<p>en</p>");
  EXPECT_EQ(wait_for_viewer(box->viewerLog(), 5000),
            (std::vector<std::string>{"argc=1", box->defaultCatalog() + "docs/en.html"}));
}

// Under the C locale too (services, ssh without a locale): the texts reach
// GTK as UTF-8, not as question marks.
TEST_F(ProgramTest, RussianOptionGivesRussianTextsAndTheRussianDescription) {
  writeKit();
  SetupProcess setup(*box, {"usecwd", "-Lru"}, box->kitDir(), true, kSetup,
                     {"LC_ALL=C", "LANG=C"});
  const std::string window = setup.waitForWindow(true, 15000);
  ASSERT_FALSE(window.empty());
  EXPECT_EQ(run_capture({"xdotool", "getwindowname", window}), "Установка конфигурации\n");
  click(window, kNextX, kButtonsY);
  click(window, kNextX, kButtonsY);
  ASSERT_TRUE(wait_for_file(box->launcherFile(), 15000));
  sleep_ms(300);
  click(window, kNextX, kButtonsY);
  EXPECT_EQ(setup.waitExit(10000), 0);
  EXPECT_EQ(wait_for_viewer(box->viewerLog(), 5000),
            (std::vector<std::string>{"argc=1", box->defaultCatalog() + "docs/ru.html"}));
}

// The machine may have no locale but C installed: a Ukrainian one is
// compiled into the sandbox and reached through LOCPATH, so that the
// program's own setlocale call is what finds it.
TEST_F(ProgramTest, LanguageComesFromTheLocaleUnlessAKnownOptionIsGiven) {
  const std::string locales = box->root() + "/locale";
  make_dirs(locales);
  run_capture({"localedef", "-i", "uk_UA", "-f", "UTF-8", locales + "/uk_UA.UTF-8"});
  if (!file_exists(locales + "/uk_UA.UTF-8/LC_CTYPE")) {
    GTEST_SKIP() << "localedef cannot build uk_UA";
  }
  const std::vector<std::string> ukrainian = {"LC_ALL=uk_UA.UTF-8", "LANG=uk_UA.UTF-8",
                                              "LOCPATH=" + locales};
  struct Case {
    std::vector<std::string> args;
    std::string title;  // of the missing kit's error box: the application title
  };
  const Case cases[] = {{{"usecwd"}, "Установка конфігурації"},
                        {{"usecwd", "-Lxx"}, "Установка конфігурації"},
                        {{"usecwd", "-Lde"}, "Konfiguration wird installiert"},
                        {{"usecwd", "-Lxx", "-Lde"}, "Установка конфігурації"}};
  for (const Case& c : cases) {
    SetupProcess setup(*box, c.args, box->work(), true, kSetup, ukrainian);
    const std::string message = setup.waitForWindow(false, 15000);
    ASSERT_FALSE(message.empty()) << c.args.back() << ": no error box; " << setup.stderrText();
    EXPECT_EQ(run_capture({"xdotool", "getwindowname", message}), c.title + "\n") << c.args.back();
    key(message, "Escape");
    EXPECT_EQ(setup.waitExit(10000), 0);
  }
}

// In a locale whose encoding is not UTF-8 the texts reached GTK in that
// encoding; GTK takes UTF-8 only.
TEST_F(ProgramTest, TextsReachGtkAsUtf8InASingleByteLocale) {
  const std::string locales = test_support::single_byte_locale_dir();
  if (locales.empty()) GTEST_SKIP() << "localedef cannot build " << test_support::kSingleByteLocale;
  const std::string name = test_support::kSingleByteLocale;
  SetupProcess setup(*box, {"usecwd"}, box->work(), true, kSetup,
                     {"LC_ALL=" + name, "LANG=" + name, "LOCPATH=" + locales});
  const std::string message = setup.waitForWindow(false, 15000);
  ASSERT_FALSE(message.empty()) << "no error box; " << setup.stderrText();
  EXPECT_EQ(run_capture({"xdotool", "getwindowname", message}), "Установка конфигурации\n");
  key(message, "Escape");
  EXPECT_EQ(setup.waitExit(10000), 0);
}

TEST_F(ProgramTest, MissingKitShowsOnlyAnErrorBoxAndExitsWithZero) {
  SetupProcess setup(*box, {"usecwd"}, box->work());
  const std::string message = setup.waitForWindow(false, 15000);
  ASSERT_FALSE(message.empty()) << "no error box";
  sleep_ms(300);
  EXPECT_EQ(setup.windows().size(), 1u) << "no wizard window beside the box";
  key(message, "Escape");
  EXPECT_EQ(setup.waitExit(10000), 0);
  EXPECT_FALSE(file_exists(box->home() + "/.qxr8"));
}

TEST_F(ProgramTest, DamagedKitShowsAnErrorBoxAndLeavesNoTemporaryFile) {
  write_file(box->kitDir() + "/qxr8.xdk", "this is not a kit at all");
  SetupProcess setup(*box, {"usecwd"}, box->kitDir());
  const std::string message = setup.waitForWindow(false, 15000);
  ASSERT_FALSE(message.empty());
  EXPECT_TRUE(setup.waitForWindow(true, 500).empty());
  key(message, "Escape");
  EXPECT_EQ(setup.waitExit(10000), 0);
  EXPECT_TRUE(list_dir(box->tmp()).empty());
}

TEST_F(ProgramTest, FailureDuringTheInstallationEndsOnTheFailurePageWithTheCatalogUnchanged) {
  writeKit();
  const std::string catalog = box->defaultCatalog();
  make_dirs(catalog);
  write_file(catalog + "readme.txt", "old\n");
  set_mtime(catalog + "readme.txt", 1400000000);
  write_file(catalog + "sub", "a file where the kit needs a directory\n");
  SetupProcess setup(*box, {"usecwd"}, box->kitDir());
  const std::string window = setup.waitForWindow(true, 15000);
  ASSERT_FALSE(window.empty());
  click(window, kNextX, kButtonsY);
  click(window, kNextX, kButtonsY);
  const std::string message = setup.waitForWindow(false, 15000);
  ASSERT_FALSE(message.empty()) << "no error box";
  key(message, "Escape");
  EXPECT_TRUE(setup.waitForNoBox(10000));
  // The failure page: Cancel is insensitive, so clicking it does nothing.
  click(window, kCancelX, kButtonsY);
  EXPECT_EQ(setup.waitExit(300), -1);
  click(window, kNextX, kButtonsY);  // Finish
  EXPECT_EQ(setup.waitExit(10000), 0);
  EXPECT_EQ(read_file(catalog + "readme.txt"), "old\n");
  EXPECT_EQ(get_mtime(catalog + "readme.txt"), 1400000000);
  EXPECT_EQ(list_dir(catalog), (std::vector<std::string>{"readme.txt", "sub"}));
  EXPECT_FALSE(file_exists(box->launcherFile()));
  EXPECT_TRUE(wait_for_viewer(box->viewerLog(), 500).empty());
}

TEST_F(ProgramTest, SigtermDuringASilentInstallEndsTheProgramOnlyAfterTheRollback) {
  files.clear();
  for (int i = 0; i < 6; ++i) {
    files.push_back({"big/f" + std::to_string(i) + ".bin",
                     std::string(1024 * 1024, static_cast<char>('a' + i)), 1600000000});
  }
  writeKit();
  const std::string catalog = box->defaultCatalog();
  for (const KitFile& f : files) {
    make_dirs(catalog + "big");
    write_file(catalog + f.name, "old " + f.name);
    set_mtime(catalog + f.name, 1400000000);
  }
  SetupProcess setup(*box, {"usecwd", "-S"}, box->kitDir());
  // The run is under way once its state folder stands in the catalog.
  bool started = false;
  for (int i = 0; i < 30000 && !started; ++i) {
    started = file_exists(catalog + ".qxr8\\run");
    if (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(started) << setup.stderrText();
  kill(setup.pid(), SIGTERM);
  const test_support::ChildResult* end = setup.waitEnd(30000);
  ASSERT_NE(nullptr, end) << "still running";
  EXPECT_EQ(SIGTERM, end->signal) << "exit status " << end->status;
  // Rolled back, or complete if the signal came after the last file; no
  // backup tree and no unpacked kit left behind.
  bool allOld = true, allNew = true;
  for (const KitFile& f : files) {
    allOld = allOld && read_file(catalog + f.name) == "old " + f.name &&
             get_mtime(catalog + f.name) == 1400000000;
    allNew = allNew && read_file(catalog + f.name) == f.content &&
             get_mtime(catalog + f.name) == f.mtime;
  }
  EXPECT_TRUE(allOld || allNew);
  EXPECT_EQ(std::vector<std::string>(), list_dir(box->tmp()));
}

// The keyboard alone takes the wizard through an installation into a typed
// catalog, and a screen reader's view of it (AT-SPI through GTK's bridge,
// on a session bus of the test's own) names every control and follows the
// focus. Without a reader here, the keys are still tried.
TEST_F(ProgramTest, KeyboardAloneInstallsAndAScreenReaderNamesEveryControl) {
  writeKit();
  test_support::ChildOptions busOptions;
  busOptions.pipes = true;  // the address comes on its standard output
  test_support::Child bus({"dbus-daemon", "--session", "--nofork", "--print-address=1"}, busOptions);
  std::string address = "DBUS_SESSION_BUS_ADDRESS=";
  for (char c; read(bus.fromChild(), &c, 1) == 1 && c != '\n';) address += c;
  box->setEnv("DBUS_SESSION_BUS_ADDRESS", address.substr(address.find('=') + 1));
  SetupProcess setup(*box, {"usecwd"}, box->kitDir(), true, kSetup,
                     {"GTK_MODULES=gail:atk-bridge", address});
  const std::string window = setup.waitForWindow(true, 15000);
  ASSERT_FALSE(window.empty()) << setup.stderrText();
  const std::string check = "check box\tOpen description of distribution package\tfocused,";
  expect_seen(setup.pid(), {"push button\tNext >\tfocused,showing\t\t",
                            "icon\tReport Templates\tshowing\t\t"});
  key(window, "Return");
  expect_seen(setup.pid(), {"text\tTemplate directory:\tfocused,showing\t\tTemplate directory:",
                            "push button\tChoose Directory\tshowing\t\t"});
  // The proposed path is selected: typing replaces it, Return is Next.
  run_capture({"xdotool", "type", "--delay", "20", box->work("typed")});
  key(window, "Return");
  ASSERT_TRUE(wait_for_file(box->launcherFile(), 15000)) << "no installation";
  expect_seen(setup.pid(), {check + "checked,showing\t\t",
                            "progress bar\tCopying complete...\t\t100\tCopying complete...",
                            "label\tConfiguration installed successfully.\tshowing\t\t"});
  key(window, "space");  // clears the box that has the focus
  const bool readable = expect_seen(setup.pid(), {check + "showing\t\t"});
  key(window, "Return");  // Finish, the default button
  EXPECT_EQ(setup.waitExit(10000), 0);
  EXPECT_EQ(read_file(box->work("typed/readme.txt")), "hello\n");
  EXPECT_TRUE(wait_for_viewer(box->viewerLog(), 500).empty()) << "the box was cleared";
  if (!readable) GTEST_SKIP() << "keys tried; no AT-SPI reader here (python3-pyatspi)";
}

TEST_F(ProgramTest, WithoutADisplayItSaysSoOnOneLineAndExitsWithZero) {
  writeKit();
  SetupProcess setup(*box, {"usecwd", "-S"}, box->kitDir(), false);
  EXPECT_EQ(setup.waitExit(10000), 0);
  const std::string err = setup.stderrText();
  EXPECT_FALSE(err.empty());
  EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
  EXPECT_FALSE(file_exists(box->home() + "/.qxr8"));
}

}  // namespace
}  // namespace app_test
