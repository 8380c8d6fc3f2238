// xdktool check: whether a templates catalog holds what a kit says, told
// file by file, without writing anything (install/catalog_check.h).
#include <cstdio>
#include <string>

#include "install/catalog_check.h"
#include "install/install_data.h"
#include "install/kit_removal.h"
#include "install/record_folder.h"
#include "platform/directory.h"
#include "platform/status.h"
#include "tools/xdktool_catalog_run.h"
#include "tools/xdktool_commands.h"
#include "tools/xdktool_messages.h"

const char kCheckUsage[] =
    "usage: xdktool check [-q] [--key FILE]... [--require-signature] KIT CATALOG\n"
    "       xdktool check [-q] CATALOG NAME\n"
    "\n"
    "When the first argument is a folder, it is the catalog and NAME the kit\n"
    "as 'xdktool installed' names it: the catalog is compared with the\n"
    "catalog's record of the kit (sizes, times and the hashes of the kit's\n"
    "bytes), and the kit file is not needed.\n"
    "\n"
    "Compares the templates catalog CATALOG with KIT, writing nothing, and\n"
    "prints, tab-separated, one line for each file that is not as in the kit:\n"
    "  missing PATH   nothing is there (or a folder above it is missing)\n"
    "  older PATH     its time is earlier than the kit's copy's\n"
    "  changed PATH   its time is the kit's or later, but its size or bytes\n"
    "                 differ; or a dangling link or another user's link is\n"
    "                 there\n"
    "then one summary line:\n"
    "  xdktool check: N files as in the kit, A missing, B older, C changed\n"
    "Files are looked at as 'xdktool install' looks at them: the same names,\n"
    "links followed only when they are the user's or root's. A file with an\n"
    "earlier time is 'older' whatever its bytes.\n"
    "\n"
    "A kit whose signature is refused (see 'xdktool verify') is not compared.\n"
    "\n"
    "  -q, --quiet  no summary line: only the difference lines\n"
    XDKTOOL_SIGNATURE_OPTIONS_HELP
    "  -h, --help   show this text\n"
    "  --           end of options\n"
    "\n"
    "Exit status: 0 every file is as in the kit; 1 some file is not, or the\n"
    "check failed (the kit cannot be read or is damaged, the catalog cannot\n"
    "be read, something that is not a file stands where a file belongs: a\n"
    "message names the path on standard error, and no summary line is\n"
    "printed); 2 usage.\n";

namespace {

const char* difference_word(CatalogDifference difference) {
  switch (difference) {
    case CatalogDifference::kMissing: return "missing";
    case CatalogDifference::kOlder: return "older";
    case CatalogDifference::kChanged: return "changed";
    case CatalogDifference::kNone: break;
  }
  return nullptr;
}

// The check of `catalog` against its record of the kit `name`: any user's,
// the caller's first.
Status check_by_record(const wstring& catalog, const char* name, CatalogCheck& check) {
  Directory opened;
  CatalogRecords records;
  Status status = Directory::open(catalog, opened);
  if (status.ok()) status = read_catalog_records(opened, records);
  if (!status.ok()) return status;
  print_notes("check", ignored_record_notes(records));
  const FoundRecord* found = records.any(name);
  if (found == nullptr) return no_record(records, name, catalog);
  return check_recorded(found->record, catalog, check);
}

}  // namespace

int xdktool_check(int argc, char** argv) {
  const char* kitArg = nullptr;
  const char* catalogArg = nullptr;
  SignatureOptions signature;
  bool quiet = false;
  const int status = read_kit_and_catalog("check", kCheckUsage, argc, argv,
                                          {{"-q", &quiet}, {"--quiet", &quiet}}, signature,
                                          kitArg, catalogArg);
  if (status >= 0) return status;
  const bool byRecord = names_a_folder(kitArg);
  if (byRecord) {
    const int refused = refuse_signature_options("check", signature);
    if (refused >= 0) return refused;
  }
  const wstring catalog = absolute_catalog(byRecord ? kitArg : catalogArg);
  CatalogCheck check;
  Status failure;
  if (byRecord) {
    failure = check_by_record(catalog, catalogArg, check);
  } else {
    // The whole kit: the files the catalog holds are compared byte for byte.
    KitOriginCheck origin;
    KitReader kit;
    const int opened = open_checked_kit("check", kitArg, signature, origin, kit);
    if (opened != kExitSuccess) return opened;
    failure = check_catalog(kit, catalog, check);
  }

  wstring base = catalog;
  if (base.back() != kPathSeparatorChar) base += kPathSeparator;
  for (const CheckedEntry& entry : check.entries) {
    const char* word = difference_word(entry.difference);
    if (word != nullptr) std::printf("%s\t%s\n", word, tab_field(base + entry.name).c_str());
  }
  if (!failure.ok()) {
    std::fflush(stdout);
    std::fprintf(stderr, "xdktool check: cannot check %s\n", failure_text(failure).c_str());
    return kExitFailure;
  }
  if (!quiet) {
    std::printf("xdktool check: %lu files as in the kit, %lu missing, %lu older, %lu changed\n",
                check.asInKit, check.missing, check.older, check.changed);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("xdktool check: cannot write the result\n", stderr);
    return kExitFailure;
  }
  return check.matches() ? kExitSuccess : kExitFailure;
}
