// xdktool install: installs a kit into a templates catalog without the
// wizard, through the same engine, worker thread and polled shared state.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "config/catalog_registration.h"
#include "install/headless_install.h"
#include "install/install_data.h"
#include "install/install_failure.h"
#include "install/install_plan.h"
#include "install/preinstall_checks.h"
#include "install/signer_continuity.h"
#include "platform/file_system.h"
#include "platform/termination_signals.h"
#include "platform/system_path.h"
#include "platform/utf8.h"
#include "tools/progress_line.h"
#include "tools/xdktool_catalog_run.h"
#include "tools/xdktool_commands.h"
#include "tools/xdktool_messages.h"

const char kInstallUsage[] =
    "usage: xdktool install [--register] [--dry-run] [-q] [--key FILE]...\n"
    "                       [--require-signature] KIT CATALOG\n"
    "\n"
    "Installs every file of KIT into the templates catalog CATALOG that is\n"
    "missing there or older than the kit's copy, with the kit's time stamps.\n"
    "A failing step puts the catalog back as it was. On a terminal, one line\n"
    "on standard error shows the bytes written, the rate and the time left.\n"
    "A kit made by 'xdktool pack' is\n"
    "inflated past its file table only when a file is to be written, so a\n"
    "rerun over an up-to-date catalog is quick for any size of kit.\n"
    "\n"
    "  --register   after a success, record CATALOG first in the launcher's\n"
    "               list of template catalogs, as the setup wizard does\n"
    "  --dry-run    write nothing; print, tab-separated, 'new PATH' or\n"
    "               'replace PATH' for each file that would be written (and\n"
    "               where it really lands, when a link of yours leads there),\n"
    "               then\n"
    "               xdktool install: dry run: N files would be written\n"
    "               (A new, B replaced), C up to date\n"
    "               (--register is not acted on)\n"
    "  -q, --quiet  no progress and no summary line: nothing on standard\n"
    "               output (errors still on standard error)\n"
    "  --accept-new-signer\n"
    "               install a kit whose signer is not the one the catalog's\n"
    "               record of the same kit names (another key, or none)\n"
    XDKTOOL_SIGNATURE_OPTIONS_HELP
    "  -h, --help   show this text\n"
    "  --           end of options\n"
    "\n"
    "A successful installation ends with one line on standard output:\n"
    "  xdktool install: N files written (A new, B replaced), C up to date,\n"
    "  D bytes written\n"
    "With --register, the line before it says whether the launcher's list\n"
    "changed (a list that already names CATALOG first is left untouched):\n"
    "  xdktool install: registered CATALOG\n"
    "  xdktool install: registration unchanged\n"
    "A failure names the file or folder, the system's reason and the code:\n"
    "  xdktool install: cannot write PATH: REASON (code N)\n"
    "The run records the kit in the catalog (see 'xdktool installed'). When\n"
    "that record names the key that signed the kit, a kit of the same name\n"
    "signed otherwise is refused (exit 1) unless --accept-new-signer is given.\n"
    "\n"
    "An interrupt (SIGINT, SIGTERM, SIGHUP) cancels the run and restores the\n"
    "catalog. Exit status: 0 installed (or planned), 1 failed or cancelled\n"
    "(the catalog is unchanged), 2 usage.\n";

namespace {

// Prints the plan of installing `kit` (read table first) into `catalog`;
// writes nothing. As the run would, it reads the rest of the kit only when
// the plan writes, so a kit whose data area is damaged fails here exactly
// when the run would fail on it.
int dry_run(const char* kitArg, KitReader& kit, const KitOriginCheck& origin,
            const wstring& catalog) {
  InstallPlan plan;
  InstallFailure failure;
  const unsigned code = plan_install(kit, catalog, plan, failure);
  // A signed kit proves its bytes either way, as the run would.
  const Status whole = code == kErrorSuccess && plan.writes() != 0 ? kit.file().complete()
                                                                   : kit.file().proveOrigin();
  if (!whole.ok()) {
    std::fprintf(stderr, "xdktool install: dry run: %s\n",
                 kit_failure_text(kitArg, whole, origin).c_str());
    return kExitFailure;
  }
  wstring base = catalog;
  if (base.empty() || base.back() != kPathSeparatorChar) base += kPathSeparator;
  for (const PlannedEntry& entry : plan.entries) {
    if (entry.action != EntryAction::kWriteNew && entry.action != EntryAction::kReplace) continue;
    // Through a link, also where the file really lands.
    std::printf("%s\t%s%s%s\n", entry.action == EntryAction::kReplace ? "replace" : "new",
                tab_field(base + entry.name).c_str(), entry.landsAt.empty() ? "" : "\t",
                tab_field(entry.landsAt).c_str());
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

struct InstallOptions {
  bool registerCatalog = false;
  bool dryRun = false;
  bool quiet = false;
  bool acceptNewSigner = false;
  SignatureOptions signature;
  const char* kit = nullptr;
  const char* catalog = nullptr;
};

// -1 when the command goes on with `options`, else the exit status.
int parse_options(int argc, char** argv, InstallOptions& options) {
  return read_kit_and_catalog("install", kInstallUsage, argc, argv,
                              {{"--register", &options.registerCatalog},
                               {"--dry-run", &options.dryRun},
                               {"-q", &options.quiet},
                               {"--quiet", &options.quiet},
                               {"--accept-new-signer", &options.acceptNewSigner}},
                              options.signature, options.kit, options.catalog);
}

// Whether the kit keeps the signer the catalog's record of it names, or the
// user accepts the change; the refusal is told. The run asks again under
// the catalog's lock.
bool signer_kept_or_accepted(const InstallOptions& options, const KitReader& kit,
                             const KitOriginCheck& origin, const wstring& catalog) {
  const SignerChange change = signer_change_at(catalog, kit.productInfo, origin.origin());
  if (!change.changed || options.acceptNewSigner) return true;
  std::fprintf(stderr,
               "xdktool install: %s: %s was installed into %s signed by key %s; this kit has "
               "%s. Pass --accept-new-signer to install it anyway.\n",
               options.kit, printable(utf8_to_wide(change.kitName)).c_str(),
               printable(catalog).c_str(), printable(recorded_signer_text(change)).c_str(),
               printable(new_signer_text(change)).c_str());
  return false;
}

// The failure lines of a run that did not complete; `kitArg` names the kit.
void report_failure(const InstallOutcome& outcome, const char* kitArg,
                    const KitOriginCheck& origin, const wstring& catalog) {
  if (outcome.code == kErrorSharingViolation) {
    std::fprintf(stderr,
                 "xdktool install: another installation is writing into %s; nothing was "
                 "changed (code %u)\n",
                 printable(catalog).c_str(), outcome.code);
    return;
  }
  if (outcome.failure.code == outcome.code && !outcome.failure.path.empty() &&
      outcome.failure.path == from_system_path(kitArg)) {
    // The rest of a kit read table first turned out damaged, or not the
    // kit its signature covers.
    std::fprintf(stderr, "xdktool install: %s\n",
                 kit_failure_text(kitArg, outcome.failure, origin).c_str());
  } else if (outcome.failure.code == outcome.code) {
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
}

// The last line, in a fixed form that scripts read: a non-zero number
// before " files written" means the catalog changed.
int report_success(const InstallStats& stats) {
  std::printf(
      "xdktool install: %lu files written (%lu new, %lu replaced), %lu up to date, "
      "%llu bytes written\n",
      stats.filesNew + stats.filesReplaced, stats.filesNew, stats.filesReplaced,
      stats.filesUpToDate, stats.bytesWritten);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) return kExitFailure;
  return kExitSuccess;
}

}  // namespace

int xdktool_install(int argc, char** argv) {
  InstallOptions options;
  const int parsed = parse_options(argc, argv, options);
  if (parsed >= 0) return parsed;
  // A run that has nothing to write never needs the kit's data area: the
  // run inflates it only when its plan writes (unpack_kit_for_plan).
  KitOriginCheck origin;
  KitReader kit;
  const int opened = open_checked_kit("install", options.kit, options.signature, origin, kit,
                                      KitReading::kTableFirst);
  if (opened != kExitSuccess) return opened;

  const wstring catalog = absolute_catalog(options.catalog);
  if (!signer_kept_or_accepted(options, kit, origin, catalog)) return kExitFailure;
  if (options.dryRun) return dry_run(options.kit, kit, origin, catalog);
  // Read before the installation, as the wizard reads it at start-up.
  CatalogRegistration registration;
  if (options.registerCatalog) registration = read_catalog_registration();
  for (const wstring& kept : registration.unrestored) {
    std::fprintf(stderr,
                 "xdktool install: a launcher file was left half rewritten by a program that "
                 "died, and could not be put back; its old text is kept in %s\n",
                 printable(kept).c_str());
  }

  // By bytes: a large file moves the line while it is written.
  ProgressLine bar(progress_wanted(options.quiet), ProgressUnit::kBytes);
  InstallOutcome outcome;
  catch_termination_signals();
  {
    HeadlessInstall install(kit, catalog);
    install.processData().setAcceptNewSigner(options.acceptNewSigner);
    outcome = install.run(
        [&bar](const InstallState& state) {
          // Each entry, and the success, which may come before a poll saw
          // the last bytes.
          if (state.position.entries != 0 || (state.final() && state.code == 0)) {
            bar.show(state.position.bytesWritten, state.position.bytesToWrite, state.text);
          }
        },
        10, [] { return termination_signal() != 0; });
    // Leaving the scope after a failure has already waited for the
    // rollback; after a success the worker's pause is not waited out.
  }
  bar.finish();
  print_notes("install", outcome.notes);
  if (outcome.code != kErrorSuccess) {
    report_failure(outcome, options.kit, origin, catalog);
    return kExitFailure;
  }
  if (options.registerCatalog) {
    const int rc = register_catalog(registration, catalog);
    if (rc != 0) {
      std::fprintf(stderr,
                   "xdktool install: installed, but the launcher configuration could not be "
                   "written (code %d)\n",
                   rc);
      // The templates are in place and stay there: a launcher that cannot be
      // told about them does not undo a finished installation.
    } else if (registration.changed || !options.quiet) {
      report_registration("install", registration.changed ? "registered" : nullptr, catalog);
    }
  }
  return options.quiet ? kExitSuccess : report_success(outcome.stats);
}
