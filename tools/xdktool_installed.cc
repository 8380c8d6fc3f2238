// xdktool installed: what a templates catalog holds, by the records its
// installations left (install/record_folder.h), without any kit.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "install/kit_signature.h"
#include "install/record_folder.h"
#include "platform/directory.h"
#include "platform/process_services.h"
#include "platform/system_path.h"
#include "platform/utf8.h"
#include "tools/xdktool_catalog_run.h"
#include "tools/xdktool_commands.h"
#include "tools/xdktool_messages.h"

const char kInstalledUsage[] =
    "usage: xdktool installed [--files NAME] CATALOG\n"
    "\n"
    "Lists the kits installed into the templates catalog CATALOG, as the\n"
    "records their installations left there tell, one line each,\n"
    "tab-separated:\n"
    "  NAME IDENTITY INSTALLED SIGNER FILES OWNER\n"
    "NAME is the product of the kit's English record (or of its first); it\n"
    "is the name 'xdktool remove CATALOG NAME' and 'xdktool check CATALOG\n"
    "NAME' take. IDENTITY is the kit file's name and its BLAKE2b-512, or, for\n"
    "a kit signed by a trusted key, the signature's trusted comment; SIGNER\n"
    "the key id, or 'not signed'; INSTALLED the time (UTC); FILES 'N files';\n"
    "OWNER the user who installed it.\n"
    "\n"
    "  --files NAME  list the files of the kit NAME instead, one path a line\n"
    "  -h, --help    show this text\n"
    "  --            end of options\n"
    "\n"
    "A record that cannot be trusted or read is named on standard error and\n"
    "passed over. Exit status: 0 listed; 1 the catalog cannot be read, or no\n"
    "kit NAME is recorded; 2 usage.\n";

namespace {

std::string utc_time(int64_t seconds) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  struct tm utc;
  char text[32] = "?";
  if (::gmtime_r(&time, &utc) != nullptr) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string hex(const KitHash& hash) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (uint8_t b : hash) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

std::string field(const std::string& utf8) { return tab_field(utf8_to_wide(utf8)); }

void print_kit(const FoundRecord& found) {
  const KitRecord& record = found.record;
  const std::string identity = record.isSigned
                                   ? field(record.trustedComment)
                                   : field(record.kitFile) + " blake2b:" + hex(record.kitHash);
  std::printf("%s\t%s\t%s\t%s\t%zu files\t%s\n", field(record.name).c_str(), identity.c_str(),
              utc_time(record.installedAt).c_str(),
              record.isSigned ? key_id_text(record.keyId).c_str() : "not signed",
              record.files.size(), printable(user_name(found.owner)).c_str());
}

}  // namespace

int xdktool_installed(int argc, char** argv) {
  const char* files = nullptr;
  const char* catalogArg = nullptr;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!optionsEnded && std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
    } else if (!optionsEnded && (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0)) {
      std::fputs(kInstalledUsage, stdout);
      return kExitSuccess;
    } else if (!optionsEnded && std::strcmp(arg, "--files") == 0) {
      if (i + 1 == argc) return usage_error("installed", "--files needs a NAME");
      files = argv[++i];
    } else if (!optionsEnded && std::strncmp(arg, "--files=", 8) == 0) {
      files = arg + 8;
    } else if (!optionsEnded && arg[0] == '-' && arg[1] != '\0') {
      return usage_error("installed", (std::string("unknown option '") + arg + "'").c_str());
    } else if (catalogArg == nullptr) {
      catalogArg = arg;
    } else {
      return usage_error("installed", "expected one CATALOG");
    }
  }
  if (catalogArg == nullptr || catalogArg[0] == '\0') {
    return usage_error("installed", "expected one CATALOG");
  }
  const wstring catalog = absolute_catalog(catalogArg);
  Directory opened;
  CatalogRecords records;
  Status status = Directory::open(catalog, opened);
  if (status.ok()) status = read_catalog_records(opened, records);
  if (!status.ok()) {
    std::fprintf(stderr, "xdktool installed: cannot read %s\n", failure_text(status).c_str());
    return kExitFailure;
  }
  print_notes("installed", ignored_record_notes(records));
  if (files == nullptr) {
    for (const FoundRecord& found : records.records) print_kit(found);
  } else {
    const FoundRecord* found = records.any(files);
    if (found == nullptr) {
      std::fprintf(stderr, "xdktool installed: no kit named %s is recorded in %s\n",
                   printable(utf8_to_wide(files)).c_str(), printable(catalog).c_str());
      return kExitFailure;
    }
    for (const RecordedFile& file : found->record.files) {
      std::printf("%s\n", tab_field(opened.pathOf(from_system_path(file.name))).c_str());
    }
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) return kExitFailure;
  return kExitSuccess;
}
