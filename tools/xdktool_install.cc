// xdktool install: installs a kit into a templates catalog without the
// wizard, through the same engine, worker thread and polled shared state.
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "config/catalog_registration.h"
#include "install/headless_install.h"
#include "install/install_codes.h"
#include "install/install_data.h"
#include "install/install_failure.h"
#include "install/install_plan.h"
#include "install/path_status.h"
#include "platform/file_system.h"
#include "platform/string_utils.h"
#include "platform/system_path.h"
#include "platform/text_encoding.h"
#include "tools/xdktool_commands.h"
#include "tools/xdktool_messages.h"

const char kInstallUsage[] =
    "usage: xdktool install [--register] [--dry-run] KIT CATALOG\n"
    "\n"
    "Installs every file of KIT into the templates catalog CATALOG that is\n"
    "missing there or older than the kit's copy, with the kit's time stamps.\n"
    "A failing step puts the catalog back as it was. Shows a progress bar on\n"
    "standard error when that is a terminal.\n"
    "\n"
    "  --register   after a success, record CATALOG first in the launcher's\n"
    "               list of template catalogs, as the setup wizard does\n"
    "  --dry-run    write nothing; print, tab-separated, 'new PATH' or\n"
    "               'replace PATH' for each file that would be written, then\n"
    "               xdktool install: dry run: N files would be written\n"
    "               (A new, B replaced), C up to date\n"
    "               (--register is not acted on)\n"
    "  -h, --help   show this text\n"
    "  --           end of options\n"
    "\n"
    "A successful installation ends with one line on standard output:\n"
    "  xdktool install: N files written (A new, B replaced), C up to date,\n"
    "  D bytes written\n"
    "A failure names the file or folder, the system's reason and the code:\n"
    "  xdktool install: cannot write PATH: REASON (code N)\n"
    "\n"
    "An interrupt (SIGINT, SIGTERM, SIGHUP) cancels the run and restores the\n"
    "catalog. Exit status: 0 installed (or planned), 1 failed or cancelled\n"
    "(the catalog is unchanged), 2 usage.\n";

namespace {

// The wizard demands three times the kit's size in the temporary directory
// (the unpacked kit plus the backups of replaced files).
constexpr unsigned long long kSpaceReg = 3;

// Text for a terminal, in the locale's encoding: control characters shown
// as "?", so that a file name cannot move the cursor or end the progress
// line.
std::string printable(const wstring& text) {
  std::string out = to_terminal_text(text);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return out;
}

// The first position at or after `from` where a character of `text` (in
// the locale's encoding) begins, so that a cut never splits a multibyte
// character into bytes the terminal cannot show. An invalid byte counts
// as one character.
size_t character_start(const std::string& text, size_t from) {
  size_t position = 0;
  std::mbstate_t state = std::mbstate_t();
  while (position < from && position < text.size()) {
    const size_t length = std::mbrlen(text.data() + position, text.size() - position, &state);
    if (length == 0 || length > text.size() - position) {
      state = std::mbstate_t();
      ++position;
    } else {
      position += length;
    }
  }
  return position;
}

// One progress line, redrawn in place: bar, percentage, current file.
class ProgressBar {
 public:
  explicit ProgressBar(bool enabled) : m_enabled(enabled), m_drawn(false), m_columns(80) {
    struct winsize size;
    if (m_enabled && ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 40) {
      m_columns = size.ws_col;
    }
  }

  void draw(int percent, const wstring& text) {
    if (!m_enabled) return;
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    constexpr int kBarWidth = 30;
    const int filled = percent * kBarWidth / 100;
    std::string line = "\r[";
    line.append(static_cast<size_t>(filled), '#');
    line.append(static_cast<size_t>(kBarWidth - filled), '.');
    char number[16];
    std::snprintf(number, sizeof number, "] %3d%% ", percent);
    line += number;
    // The tail of a long path is the informative part.
    std::string label = printable(text);
    const size_t used = line.size() - 1;  // the "\r" takes no column
    const size_t room = m_columns > used + 1 ? m_columns - used - 1 : 0;
    if (label.size() > room) {
      label = room > 8 ? "..." + label.substr(character_start(label, label.size() - (room - 3)))
                       : std::string();
    }
    line += label;
    line += "\x1b[K";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    m_drawn = true;
  }

  void finish() {
    if (m_enabled && m_drawn) std::fputc('\n', stderr);
    m_drawn = false;
  }

 private:
  bool m_enabled;
  bool m_drawn;
  size_t m_columns;
};

// The catalog as the engine will use it: backslashes made slashes, and a
// relative path anchored at the current directory, so that what is
// registered names the same place from anywhere. The argument's bytes are
// kept exactly, whatever the locale.
wstring absolute_catalog(const char* argument) {
  wstring catalog = from_system_path(argument);
  replace_all(catalog, kBadPathSeparator, kPathSeparator);
  if (!catalog.empty() && catalog[0] != kPathSeparatorChar) {
    char* cwd = getcwd(nullptr, 0);
    if (cwd != nullptr) {
      wstring base = from_system_path(cwd);
      std::free(cwd);
      if (base.empty() || base.back() != kPathSeparatorChar) base += kPathSeparator;
      catalog = base + catalog;
    }
  }
  return catalog;
}

// Set by SIGINT, SIGTERM and SIGHUP: an interrupted run is cancelled and
// rolled back instead of leaving the catalog half written.
volatile sig_atomic_t g_interrupted = 0;

void on_interrupt(int) { g_interrupted = 1; }

void catch_interrupts() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old;
    // A signal ignored on entry (nohup, a background job) stays ignored.
    if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

// "PATH: REASON (code N)" or "REASON (code N)", from the engine's own
// description "PATH: REASON (N)".
std::string failure_text(const InstallFailure& failure) {
  std::string text = printable(describe_failure(failure));
  const std::string number = " (" + std::to_string(failure.code) + ")";
  if (text.size() >= number.size() &&
      text.compare(text.size() - number.size(), number.size(), number) == 0) {
    text.resize(text.size() - number.size());
  }
  return text + " (code " + std::to_string(failure.code) + ")";
}

// Prints the plan of installing `kit` into `catalog`; writes nothing.
int dry_run(KitReader& kit, const wstring& catalog) {
  InstallPlan plan;
  InstallFailure failure;
  const unsigned code = plan_install(kit, catalog, plan, failure);
  for (const PlannedWrite& write : plan.writes) {
    std::printf("%s\t%s\n", write.replaces ? "replace" : "new",
                tab_field(write.destination).c_str());
  }
  if (code != kErrorSuccess) {
    std::fflush(stdout);
    std::fprintf(stderr, "xdktool install: dry run: cannot write %s\n",
                 failure_text(failure).c_str());
    return kExitFailure;
  }
  std::printf(
      "xdktool install: dry run: %lu files would be written (%lu new, %lu replaced), "
      "%lu up to date\n",
      plan.filesNew + plan.filesReplaced, plan.filesNew, plan.filesReplaced, plan.upToDate);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("xdktool install: cannot write the plan\n", stderr);
    return kExitFailure;
  }
  return kExitSuccess;
}

}  // namespace

int xdktool_install(int argc, char** argv) {
  bool registerCatalog = false;
  bool dryRun = false;
  const char* kitArg = nullptr;
  const char* catalogArg = nullptr;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!optionsEnded && std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
    } else if (!optionsEnded && (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0)) {
      std::fputs(kInstallUsage, stdout);
      return kExitSuccess;
    } else if (!optionsEnded && std::strcmp(arg, "--register") == 0) {
      registerCatalog = true;
    } else if (!optionsEnded && std::strcmp(arg, "--dry-run") == 0) {
      dryRun = true;
    } else if (!optionsEnded && arg[0] == '-' && arg[1] != '\0') {
      return usage_error("install", (std::string("unknown option '") + arg + "'").c_str());
    } else if (kitArg == nullptr) {
      kitArg = arg;
    } else if (catalogArg == nullptr) {
      catalogArg = arg;
    } else {
      return usage_error("install", "expected KIT and CATALOG");
    }
  }
  if (kitArg == nullptr || catalogArg == nullptr) {
    return usage_error("install", "expected KIT and CATALOG");
  }
  if (catalogArg[0] == '\0') return usage_error("install", "CATALOG is empty");

  // The wizard's checks, in its order: the kit exists, the temporary
  // directory has room, the kit opens.
  const wstring kitPath = from_system_path(kitArg);
  if (path_kind(kitPath, true) == PathKind::kMissing) {
    std::fprintf(stderr, "xdktool install: %s: the kit does not exist\n", kitArg);
    return kExitFailure;
  }
  unsigned kitSize = 0;
  unsigned freeBytes = 0;
  if (FileSystem::GetFileSize(kitPath, &kitSize) == 0 &&
      FileSystem::GetFreeSpaceTmpDir(&freeBytes) == 0 &&
      static_cast<unsigned long long>(freeBytes) < kSpaceReg * kitSize) {
    std::fprintf(stderr,
                 "xdktool install: not enough space in the temporary directory "
                 "(%u bytes free, %llu needed)\n",
                 freeBytes, kSpaceReg * kitSize);
    return kExitFailure;
  }
  KitReader kit;
  const unsigned openCode = kit.open(kitPath);
  if (openCode != kErrorSuccess) {
    std::fprintf(stderr, "xdktool install: %s: %s (code %u)\n", kitArg, kit_open_reason(openCode),
                 openCode);
    return kExitFailure;
  }

  const wstring catalog = absolute_catalog(catalogArg);
  if (dryRun) return dry_run(kit, catalog);
  // Read before the installation, as the wizard reads it at start-up.
  CatalogRegistration registration;
  if (registerCatalog) registration = read_catalog_registration();

  ProgressBar bar(isatty(STDERR_FILENO) == 1);
  InstallOutcome outcome;
  catch_interrupts();
  {
    HeadlessInstall install(kit, catalog);
    outcome = install.run(
        [&bar](unsigned, const wstring& text, int percent) { bar.draw(percent, text); }, 10,
        [] { return g_interrupted != 0; });
    // Leaving the scope after a failure has already waited for the
    // rollback; after a success the worker's pause is not waited out.
  }
  bar.finish();

  if (outcome.code != kErrorSuccess) {
    if (outcome.code == kErrorSharingViolation) {
      std::fprintf(stderr,
                   "xdktool install: another installation is writing into %s; nothing was "
                   "changed (code %u)\n",
                   printable(catalog).c_str(), outcome.code);
      return kExitFailure;
    }
    if (outcome.failure.code == outcome.code) {
      std::fprintf(stderr, "xdktool install: %s%s\n",
                   outcome.failure.path.empty() ? "" : "cannot write ",
                   failure_text(outcome.failure).c_str());
    } else {
      std::fprintf(stderr, "xdktool install: %s (code %u)\n", printable(outcome.text).c_str(),
                   outcome.code);
    }
    if (!outcome.catalogRestored) {
      std::fprintf(stderr,
                   "xdktool install: %s could not be restored; the replaced files are kept "
                   "in %s\n",
                   printable(catalog).c_str(), printable(outcome.keptBackups).c_str());
    } else {
      std::fprintf(stderr, "xdktool install: %s is unchanged\n", printable(catalog).c_str());
    }
    return kExitFailure;
  }

  if (registerCatalog) {
    const int rc = register_catalog(registration, catalog);
    if (rc != 0) {
      std::fprintf(stderr,
                   "xdktool install: installed, but the launcher configuration could not be "
                   "written (code %d)\n",
                   rc);
      // The templates are in place and stay there: a launcher that cannot be
      // told about them does not undo a finished installation.
    }
  }
  // The last line, in a fixed form that scripts read: a non-zero number
  // before " files written" means the catalog changed.
  const InstallStats& stats = outcome.stats;
  std::printf(
      "xdktool install: %lu files written (%lu new, %lu replaced), %lu up to date, "
      "%llu bytes written\n",
      stats.filesNew + stats.filesReplaced, stats.filesNew, stats.filesReplaced,
      stats.filesUpToDate, stats.bytesWritten);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) return kExitFailure;
  return kExitSuccess;
}
