// xdktool pack: every regular file below a directory into one kit.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "install/kit_writer.h"
#include "install/record_folder.h"
#include "install/run_state.h"
#include "platform/file_system.h"
#include "platform/system_path.h"
#include "platform/text_encoding.h"
#include "tools/pack_exclusions.h"
#include "tools/pack_time.h"
#include "tools/progress_line.h"
#include "tools/record_check.h"
#include "tools/records_file.h"
#include "tools/xdktool_commands.h"
#include "tools/xdktool_messages.h"

const char kPackUsage[] =
    "usage: xdktool pack [options] DIR OUT.xdk\n"
    "\n"
    "Packs every regular file below DIR, in sorted order, named by its path\n"
    "relative to DIR with '/' between directories. Symbolic links and other\n"
    "non-regular files are skipped.\n"
    "\n"
    "Header, single language (the default; its record's language is \"en\"):\n"
    "  --product TEXT        product name\n"
    "  --vendor TEXT         vendor name\n"
    "  --description PATH    description document, relative to the catalog\n"
    "Header, one record per language (excludes the options above):\n"
    "  --record CODE PRODUCT VENDOR DESCRIPTION\n"
    "                        exactly four values; CODE is a language code\n"
    "                        such as en or pt-BR, each language once; repeat\n"
    "  --records FILE        the records from FILE, one line each: CODE,\n"
    "                        PRODUCT, VENDOR and DESCRIPTION separated by tabs;\n"
    "                        empty lines and lines starting with '#' are\n"
    "                        skipped; at most 1 MiB; excludes --record\n"
    "Every record needs a product and a vendor, and a description that is\n"
    "given must be a file of the kit ('\\' and '/' alike), as the wizard\n"
    "opens it on Finish; else nothing is packed.\n"
    "\n"
    "Files:\n"
    "  --exclude PATTERN     leave out what the shell pattern matches (repeat):\n"
    "                        with a '/' the path relative to DIR, without one\n"
    "                        a name at any depth; '*' and '?' never match '/';\n"
    "                        a final '/' matches folders only; a folder left\n"
    "                        out is left out whole\n"
    "  --exclude-vcs         leave out version-control folders and files: .git,\n"
    "                        .gitignore, .gitattributes, .gitmodules, .hg,\n"
    "                        .hgignore, .svn, .bzr, CVS, _darcs and the like\n"
    "  --dry-run             print what would go in, one line per file: NAME,\n"
    "                        TIME and SIZE tab-separated as 'xdktool list'\n"
    "                        shows them; write nothing\n"
    "\n"
    "Other options:\n"
    "  -0 ... -9, --level N  deflate level, 0 (stored) to 9 (smallest; default)\n"
    "  --time SECONDS        give every file this time (seconds since\n"
    "                        1970-01-01 UTC) instead of its modification time\n"
    "  -q, --quiet           no progress line (on a terminal, one line on\n"
    "                        standard error shows the bytes packed, the rate\n"
    "                        and the time left)\n"
    "  -h, --help            show this text\n"
    "  --                    end of options\n"
    "\n"
    "SOURCE_DATE_EPOCH in the environment (decimal seconds since 1970-01-01\n"
    "UTC) caps every file's time at that value; --time wins over it.\n"
    "File times are whole seconds, as the installer stores them. The same\n"
    "files with the same times and options give the same kit, byte for byte.\n"
    "The kit ends with a checksum of its contents that the installer checks;\n"
    "readers that know only the deflate format ignore it. The kit is written\n"
    "beside OUT.xdk and replaces it only when complete: a failed pack leaves\n"
    "OUT.xdk as it was. Exit status: 0 packed, 1 failed, 2 usage (a refused\n"
    "record, exclusion or SOURCE_DATE_EPOCH too).\n";

namespace {

struct PackOptions {
  wstring product, vendor, description;
  bool singleGiven = false;
  std::vector<config::KitProductInfo> records;
  std::string recordsFile;
  bool singleHeader = false;
  PackExclusions exclusions;
  bool dryRun = false;
  bool quiet = false;
  int level = 9;
  PackTimeRule time;
  std::vector<std::string> operands;
};

int pack_usage_error(const std::string& message) {
  return ::usage_error("pack", message.c_str());
}

// Checks the four values of the --record at argv[i] and adds the record;
// an empty result means it was added.
std::string take_record(int argc, char** argv, int i, PackOptions& options) {
  if (i + 4 >= argc) return "--record needs four values: CODE PRODUCT VENDOR DESCRIPTION";
  for (int k = 1; k <= 4; ++k) {
    // An option among the values means that some value was left out.
    const char* value = argv[i + k];
    if (value[0] == '-' && value[1] == '-') {
      return std::string("--record needs four values: CODE PRODUCT VENDOR DESCRIPTION; '") +
             value + "' is an option";
    }
  }
  const std::string problem =
      add_record(options.records, argv[i + 1], argv[i + 2], argv[i + 3], argv[i + 4]);
  return problem.empty() ? problem : "--record: " + problem;
}

bool parse_integer(const char* text, long long& value) {
  if (*text == '\0') return false;
  errno = 0;
  char* end = nullptr;
  value = std::strtoll(text, &end, 10);
  return errno == 0 && *end == '\0';
}

// Splits "--name=value" or takes the next argument; false when missing.
bool option_value(int argc, char** argv, int& i, const char* name, std::string& value) {
  const char* arg = argv[i];
  const size_t length = std::strlen(name);
  if (arg[length] == '=') {
    value = arg + length + 1;
    return true;
  }
  if (i + 1 >= argc) return false;
  value = argv[++i];
  return true;
}

bool matches(const char* arg, const char* name) {
  const size_t length = std::strlen(name);
  return std::strncmp(arg, name, length) == 0 && (arg[length] == '\0' || arg[length] == '=');
}

// The header's records and file times from what the command line and the
// environment give; -1 when fine, else the exit status.
int settle_records_and_time(PackOptions& options) {
  if (!options.recordsFile.empty()) {
    if (options.singleGiven || !options.records.empty()) {
      return pack_usage_error(
          "--records cannot be combined with --record, --product, --vendor or --description");
    }
    const std::string problem = read_records_file(options.recordsFile, options.records);
    if (!problem.empty()) return pack_usage_error("--records: " + problem);
    if (options.records.empty()) {
      return pack_usage_error("--records: " + options.recordsFile + ": no record in it");
    }
  }
  if (options.records.empty()) {
    // The single-language header: one record, whose language is "en".
    options.singleHeader = true;
    options.records.push_back(
        config::KitProductInfo{u"en", options.product, options.vendor, options.description});
  }
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (epoch != nullptr && options.time.kind != PackTimeRule::Kind::kFixed) {
    if (!parse_source_date_epoch(epoch, options.time.seconds)) {
      return pack_usage_error(std::string("SOURCE_DATE_EPOCH is '") + epoch +
                              "', not decimal seconds since 1970-01-01 UTC");
    }
    options.time.kind = PackTimeRule::Kind::kCapped;
  }
  return -1;
}

// Returns -1 when the options are fine, else the exit status.
int parse_options(int argc, char** argv, PackOptions& options) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
      options.operands.push_back(arg);
      continue;
    }
    std::string value;
    if (std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
    } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
      std::fputs(kPackUsage, stdout);
      return kExitSuccess;
    } else if (arg[1] >= '0' && arg[1] <= '9' && arg[2] == '\0') {
      options.level = arg[1] - '0';
    } else if (matches(arg, "--level")) {
      if (!option_value(argc, argv, i, "--level", value)) {
        return pack_usage_error("--level needs a value");
      }
      long long level = 0;
      if (!parse_integer(value.c_str(), level) || level < 0 || level > 9) {
        return pack_usage_error("--level takes 0 to 9, not '" + value + "'");
      }
      options.level = static_cast<int>(level);
    } else if (matches(arg, "--time")) {
      if (!option_value(argc, argv, i, "--time", value)) {
        return pack_usage_error("--time needs a value");
      }
      if (!parse_pack_time(value, options.time.seconds)) {
        return pack_usage_error("--time takes seconds since 1970-01-01 UTC, not '" + value + "'");
      }
      options.time.kind = PackTimeRule::Kind::kFixed;
    } else if (matches(arg, "--exclude")) {
      if (!option_value(argc, argv, i, "--exclude", value)) {
        return pack_usage_error("--exclude needs a PATTERN");
      }
      if (!options.exclusions.add(value)) {
        return pack_usage_error("--exclude: '" + value + "' is no pattern of a name");
      }
    } else if (std::strcmp(arg, "--exclude-vcs") == 0) {
      options.exclusions.addVersionControl();
    } else if (std::strcmp(arg, "--dry-run") == 0) {
      options.dryRun = true;
    } else if (std::strcmp(arg, "-q") == 0 || std::strcmp(arg, "--quiet") == 0) {
      options.quiet = true;
    } else if (matches(arg, "--product") || matches(arg, "--vendor") ||
               matches(arg, "--description")) {
      const std::string name(arg, std::strcspn(arg, "="));
      if (!option_value(argc, argv, i, name.c_str(), value)) {
        return pack_usage_error(name + " needs a value");
      }
      wstring& field = name == "--product" ? options.product
                       : name == "--vendor" ? options.vendor
                                            : options.description;
      field = widen_lib(value);
      options.singleGiven = true;
    } else if (std::strcmp(arg, "--record") == 0) {
      const std::string problem = take_record(argc, argv, i, options);
      if (!problem.empty()) return pack_usage_error(problem);
      i += 4;
    } else if (matches(arg, "--records")) {
      if (!option_value(argc, argv, i, "--records", value) || value.empty()) {
        return pack_usage_error("--records needs a FILE");
      }
      if (!options.recordsFile.empty()) return pack_usage_error("--records is given twice");
      options.recordsFile = value;
    } else {
      return pack_usage_error(std::string("unknown option '") + arg + "'");
    }
  }
  if (options.operands.size() != 2) {
    // A --record short of a value takes an operand in its place.
    return pack_usage_error(options.records.empty() || options.operands.size() > 2
                           ? "expected DIR and OUT.xdk"
                           : "expected DIR and OUT.xdk (each --record takes exactly four "
                             "values: CODE PRODUCT VENDOR DESCRIPTION)");
  }
  if (options.singleGiven && !options.records.empty()) {
    return pack_usage_error(
        "--record cannot be combined with --product, --vendor or --description");
  }
  return settle_records_and_time(options);
}

// The --dry-run listing: NAME, TIME and SIZE per file as list shows them.
int print_plan(const std::vector<config::KitSourceFile>& files) {
  for (const config::KitSourceFile& file : files) {
    std::printf("%s\t%s\t%llu\n", tab_field(file.name).c_str(),
                format_file_time(file.lastWriteTime).c_str(),
                static_cast<unsigned long long>(file.size));
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("xdktool pack: cannot write the listing\n", stderr);
    return kExitFailure;
  }
  return kExitSuccess;
}

struct Walk {
  std::string root;
  const PackExclusions* exclusions = nullptr;
  dev_t skipDevice = 0;
  ino_t skipInode = 0;
  bool skipSet = false;
  std::vector<std::string> relativePaths;
  std::string error;
};

// Collects the regular files below root/relative; false on a read error.
bool walk_directory(Walk& walk, const std::string& relative) {
  const std::string directory = relative.empty() ? walk.root : walk.root + "/" + relative;
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) {
    walk.error = "cannot read directory " + directory + ": " + std::strerror(errno);
    return false;
  }
  std::vector<std::string> names;
  while (dirent* item = readdir(dir)) {
    if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0) {
      names.push_back(item->d_name);
    }
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string childRelative = relative.empty() ? name : relative + "/" + name;
    const std::string childPath = walk.root + "/" + childRelative;
    struct stat status;
    if (lstat(childPath.c_str(), &status) != 0) {
      walk.error = "cannot read " + childPath + ": " + std::strerror(errno);
      return false;
    }
    if (walk.exclusions->excludes(childRelative, S_ISDIR(status.st_mode))) continue;
    // An installed catalog packed again: its records of kits and a run's
    // state are the catalog's own, never templates.
    unsigned uid = 0;
    if (relative.empty() && S_ISDIR(status.st_mode) &&
        (name.rfind(kRunStateFolderSystemName, 0) == 0 || is_record_folder_name(name, uid))) {
      std::fprintf(stderr, "xdktool pack: skipping %s: a catalog's own records, not templates\n",
                   childPath.c_str());
      continue;
    }
    if (S_ISDIR(status.st_mode)) {
      if (!walk_directory(walk, childRelative)) return false;
    } else if (S_ISREG(status.st_mode)) {
      // The kit being written must not pack itself.
      if (walk.skipSet && status.st_dev == walk.skipDevice && status.st_ino == walk.skipInode) continue;
      walk.relativePaths.push_back(childRelative);
    } else {
      std::fprintf(stderr, "xdktool pack: skipping %s: not a regular file\n", childPath.c_str());
    }
  }
  return true;
}

// Builds the list of files to pack in sorted order of their names.
bool collect_files(const PackOptions& options, Walk& walk, std::vector<config::KitSourceFile>& files) {
  if (!walk_directory(walk, "")) return false;
  // Whole-name order, independent of how the walk met the directories.
  std::sort(walk.relativePaths.begin(), walk.relativePaths.end());
  for (const std::string& relative : walk.relativePaths) {
    const std::string path = walk.root + "/" + relative;
    // Exact: bytes that do not decode travel as escaped bytes and are
    // installed under the same bytes.
    const wstring name = from_system_path(relative);
    if (name.find(kBadPathSeparatorChar) != wstring::npos) {
      walk.error = "cannot pack " + path + ": a backslash in a name separates directories in a kit";
      return false;
    }
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
      walk.error = "cannot read " + path + ": " + std::strerror(errno);
      return false;
    }
    const long seconds = static_cast<long>(packed_time(options.time, status.st_mtime));
    files.push_back(config::KitSourceFile{name, EpochToFileTime(seconds), path,
                                          static_cast<uint64_t>(status.st_size)});
  }
  return true;
}

}  // namespace

int xdktool_pack(int argc, char** argv) {
  PackOptions options;
  const int status = parse_options(argc, argv, options);
  if (status >= 0) return status;

  Walk walk;
  walk.root = options.operands[0];
  while (walk.root.size() > 1 && walk.root.back() == '/') walk.root.pop_back();
  const std::string& output = options.operands[1];
  struct stat rootStatus;
  if (stat(walk.root.c_str(), &rootStatus) != 0 || !S_ISDIR(rootStatus.st_mode)) {
    std::fprintf(stderr, "xdktool pack: %s is not a directory\n", walk.root.c_str());
    return kExitFailure;
  }
  struct stat outputStatus;
  if (stat(output.c_str(), &outputStatus) == 0) {
    walk.skipSet = true;
    walk.skipDevice = outputStatus.st_dev;
    walk.skipInode = outputStatus.st_ino;
  }

  std::vector<config::KitSourceFile> files;
  walk.exclusions = &options.exclusions;
  if (!collect_files(options, walk, files)) {
    std::fprintf(stderr, "xdktool pack: %s\n", walk.error.c_str());
    return kExitFailure;
  }
  // Refused now rather than by the wizard, which would show empty names or
  // open nothing on Finish.
  std::vector<wstring> names;
  for (const config::KitSourceFile& file : files) names.push_back(file.name);
  for (const config::KitProductInfo& record : options.records) {
    const std::string problem = record_problem(record, names);
    if (!problem.empty()) return pack_usage_error(problem);
  }
  if (options.dryRun) return print_plan(files);
  const config::KitProductInfo& first = options.records.front();
  const std::string header =
      options.singleHeader
          ? config::encode_single_header(first.product, first.vendor, first.description)
          : config::encode_multi_header(options.records);
  std::string error;
  ProgressLine line(progress_wanted(options.quiet), ProgressUnit::kBytes);
  const bool written = config::write_kit(
      output, header, files, options.level, error,
      [&line](uint64_t packed, uint64_t total, const std::string& path) {
        line.show(packed, total, from_system_path(path));
      });
  line.finish();
  if (!written) {
    std::fprintf(stderr, "xdktool pack: %s\n", error.c_str());
    return kExitFailure;
  }
  return kExitSuccess;
}
