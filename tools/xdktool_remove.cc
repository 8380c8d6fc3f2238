// xdktool remove: takes a kit back out of a templates catalog, keeping what
// the user changed, through the engine's removal run.
#include <cstdio>
#include <cstring>
#include <string>

#include "config/catalog_registration.h"
#include "install/kit_removal.h"
#include "platform/directory.h"
#include "tools/progress_line.h"
#include "tools/xdktool_catalog_run.h"
#include "tools/xdktool_commands.h"
#include "tools/xdktool_messages.h"

const char kRemoveUsage[] =
    "usage: xdktool remove [--unregister] [--dry-run] [-q] [--key FILE]...\n"
    "                      [--require-signature] KIT CATALOG\n"
    "       xdktool remove [--unregister] [--dry-run] [-q] CATALOG NAME\n"
    "\n"
    "Removes from the templates catalog CATALOG every file of KIT whose bytes\n"
    "are exactly the kit's copy, keeps every file that was changed, and\n"
    "removes the folders this leaves empty (never one that still holds\n"
    "anything). A failing step puts the catalog back as it was.\n"
    "\n"
    "When the first argument is a folder, it is the catalog and NAME the kit\n"
    "as 'xdktool installed' names it: the kit file is not needed, and a file\n"
    "goes while its bytes still have the hash the catalog's record of the kit\n"
    "gives. Either way a file that another installed kit's record also lists\n"
    "stays (kept, 'also installed by KIT'), and the kit's record goes with\n"
    "its files.\n"
    "\n"
    "  --unregister  afterwards, when CATALOG holds no file any more, take it\n"
    "                out of the launcher's list of template catalogs\n"
    "  --dry-run     remove nothing; print, tab-separated, 'remove PATH' for\n"
    "                each file that would go, then the 'kept' lines and\n"
    "                xdktool remove: dry run: N files would be removed,\n"
    "                K kept (changed), D folders would be removed\n"
    XDKTOOL_SIGNATURE_OPTIONS_HELP
    "  -q, --quiet   no progress and no summary line; nothing on standard\n"
    "                output but a dry run's plan lines\n"
    "  -h, --help    show this text\n"
    "  --            end of options\n"
    "\n"
    "Each file kept is named on standard output, tab-separated, as\n"
    "'kept PATH WHY' (changed, a link, a link on the way, not a file, changed\n"
    "since the plan): a link in the catalog is never followed. A removal\n"
    "ends with one line:\n"
    "  xdktool remove: N files removed, K kept (changed), D folders removed\n"
    "With --unregister, the line before it says whether the launcher's list\n"
    "changed:\n"
    "  xdktool remove: unregistered CATALOG\n"
    "  xdktool remove: registration unchanged\n"
    "Exit status: 0 removed (or planned), 1 failed (the catalog is\n"
    "unchanged; a kit whose signature is refused removes nothing), 2 usage.\n";

namespace {

struct RemoveOptions {
  bool unregister = false;
  bool dryRun = false;
  bool quiet = false;
  SignatureOptions signature;
  const char* kit = nullptr;
  const char* catalog = nullptr;
  // The "CATALOG NAME" form: the kit's name, by the catalog's record.
  const char* recordedName = nullptr;
};

// -1 when the command goes on with `options`, else the exit status.
int parse_options(int argc, char** argv, RemoveOptions& options) {
  const int parsed = read_kit_and_catalog("remove", kRemoveUsage, argc, argv,
                                          {{"--unregister", &options.unregister},
                                           {"--dry-run", &options.dryRun},
                                           {"-q", &options.quiet},
                                           {"--quiet", &options.quiet}},
                                          options.signature, options.kit, options.catalog);
  if (parsed >= 0 || !names_a_folder(options.kit)) return parsed;
  options.recordedName = options.catalog;
  options.catalog = options.kit;
  options.kit = nullptr;
  return refuse_signature_options("remove", options.signature);
}

void print_plan(const RemovalOutcome& outcome, bool dryRun) {
  if (dryRun) {
    for (const wstring& path : outcome.plan.removed) {
      std::printf("remove\t%s\n", tab_field(path).c_str());
    }
  }
  for (const KeptFile& kept : outcome.plan.kept) {
    std::printf("kept\t%s\t%s\n", tab_field(kept.path).c_str(), tab_field(kept.why).c_str());
  }
}

// Takes the catalog out of the launcher's list when nothing is left in it;
// `quiet` says nothing of a registration left as it was.
void unregister_if_empty(const wstring& catalog, bool quiet) {
  Directory opened;
  if (Directory::open(catalog, opened).ok() && !catalog_is_empty(opened)) {
    std::fprintf(stderr, "xdktool remove: %s still holds files; it stays registered\n",
                 printable(catalog).c_str());
    if (!quiet) report_registration("remove", nullptr, catalog);
    return;
  }
  bool changed = false;
  const int rc = unregister_catalog(catalog, &changed);
  if (rc != 0) {
    std::fprintf(stderr,
                 "xdktool remove: removed, but the launcher configuration could not be "
                 "written (code %d)\n",
                 rc);
    return;
  }
  if (changed || !quiet) report_registration("remove", changed ? "unregistered" : nullptr, catalog);
}

}  // namespace

int xdktool_remove(int argc, char** argv) {
  RemoveOptions options;
  const int parsed = parse_options(argc, argv, options);
  if (parsed >= 0) return parsed;
  // The whole kit, proved before a file is looked at.
  KitOriginCheck origin;
  KitReader kit;
  if (options.recordedName == nullptr) {
    const int opened = open_checked_kit("remove", options.kit, options.signature, origin, kit);
    if (opened != kExitSuccess) return opened;
  }
  const wstring catalog = absolute_catalog(options.catalog);

  ProgressLine line(progress_wanted(options.quiet), ProgressUnit::kFiles);
  const auto progress = [&line](unsigned long done, unsigned long total, const wstring& path) {
    line.show(done, total, path);
  };
  const RemovalOutcome outcome =
      options.recordedName != nullptr
          ? remove_recorded_kit(options.recordedName, catalog, options.dryRun, progress)
          : remove_kit(kit, catalog, options.dryRun, progress);
  line.finish();
  print_notes("remove", outcome.notes);
  if (!outcome.failure.ok()) {
    std::fprintf(stderr, "xdktool remove: cannot remove %s\n", failure_text(outcome.failure).c_str());
    if (!outcome.catalogRestored) {
      std::fprintf(stderr,
                   "xdktool remove: %s could not be restored; the files taken out are kept "
                   "in %s\n",
                   printable(catalog).c_str(), printable(outcome.keptBackups).c_str());
    } else {
      std::fprintf(stderr, "xdktool remove: %s is unchanged\n", printable(catalog).c_str());
    }
    return kExitFailure;
  }
  // Quiet: a dry run's plan lines, nothing else.
  if (options.quiet && !options.dryRun) {
    if (options.unregister) unregister_if_empty(catalog, options.quiet);
    return kExitSuccess;
  }
  print_plan(outcome, options.dryRun);
  const RemovalPlan& plan = outcome.plan;
  if (options.quiet) return std::fflush(stdout) == 0 ? kExitSuccess : kExitFailure;
  if (options.dryRun) {
    std::printf(
        "xdktool remove: dry run: %zu files would be removed, %zu kept (changed), %lu folders "
        "would be removed\n",
        plan.removed.size(), plan.kept.size(), outcome.foldersRemoved);
  } else {
    if (options.unregister) unregister_if_empty(catalog, options.quiet);
    std::printf("xdktool remove: %zu files removed, %zu kept (changed), %lu folders removed\n",
                plan.removed.size(), plan.kept.size(), outcome.foldersRemoved);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) return kExitFailure;
  return kExitSuccess;
}
