#include "tools/xdktool_catalog_run.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "install/preinstall_checks.h"
#include "platform/directory.h"
#include "platform/string_utils.h"
#include "platform/system_path.h"
#include "platform/text_encoding.h"
#include "tools/xdktool_commands.h"
#include "tools/xdktool_messages.h"

int read_kit_and_catalog(const char* command, const char* usage, int argc, char** argv,
                         const std::vector<std::pair<const char*, bool*>>& flags,
                         SignatureOptions& signature, const char*& kit, const char*& catalog) {
  kit = nullptr;
  catalog = nullptr;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!optionsEnded && std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
      continue;
    }
    if (!optionsEnded && (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0)) {
      std::fputs(usage, stdout);
      return kExitSuccess;
    }
    std::string error;
    if (!optionsEnded && take_signature_option(argc, argv, i, signature, error)) {
      if (!error.empty()) return usage_error(command, error.c_str());
      continue;
    }
    bool* flag = nullptr;
    for (const auto& known : flags) {
      if (!optionsEnded && std::strcmp(arg, known.first) == 0) flag = known.second;
    }
    if (flag != nullptr) {
      *flag = true;
    } else if (!optionsEnded && arg[0] == '-' && arg[1] != '\0') {
      return usage_error(command, (std::string("unknown option '") + arg + "'").c_str());
    } else if (kit == nullptr) {
      kit = arg;
    } else if (catalog == nullptr) {
      catalog = arg;
    } else {
      return usage_error(command, "expected KIT and CATALOG");
    }
  }
  if (kit == nullptr || catalog == nullptr) return usage_error(command, "expected KIT and CATALOG");
  if (catalog[0] == '\0') return usage_error(command, "CATALOG is empty");
  return -1;
}

bool names_a_folder(const char* argument) {
  Directory folder;
  return Directory::open(from_system_path(argument), folder).ok();
}

int refuse_signature_options(const char* command, const SignatureOptions& signature) {
  if (signature.keys.empty() && !signature.required) return -1;
  return usage_error(command, "--key and --require-signature stand only beside a KIT");
}

std::string printable(const wstring& text) { return to_printable_terminal_text(text); }

std::string failure_text(const Status& failure) {
  std::string text;
  if (!failure.path.empty()) text = printable(failure.path) + ": ";
  return text + printable(status_reason(failure)) + " (code " + std::to_string(failure.code) +
         ")";
}

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

int open_checked_kit(const char* command, const char* kitArg, const SignatureOptions& signature,
                     KitOriginCheck& origin, KitReader& kit, KitReading reading) {
  const wstring kitPath = from_system_path(kitArg);
  if (!kit_exists(kitPath)) {
    // A kit in a folder the user may not read is not missing: the
    // system's reason says which.
    Status absent = kit_absence(kitPath);
    absent.path = from_system_path(kitArg);
    std::fprintf(stderr, "xdktool %s: %s\n", command, failure_text(absent).c_str());
    return kExitFailure;
  }
  uint64_t freeBytes = 0;
  uint64_t neededBytes = 0;
  if (!temporary_space_suffices(kitPath, freeBytes, neededBytes)) {
    std::fprintf(stderr,
                 "xdktool %s: not enough space in the temporary directory "
                 "(%llu bytes free, %llu needed)\n",
                 command, static_cast<unsigned long long>(freeBytes),
                 static_cast<unsigned long long>(neededBytes));
    return kExitFailure;
  }
  return open_signed_kit(command, kitArg, signature, origin, kit, reading);
}

void print_notes(const char* command, const std::vector<wstring>& notes) {
  for (const wstring& note : notes) {
    std::fprintf(stderr, "xdktool %s: %s\n", command, printable(note).c_str());
  }
}

void report_registration(const char* command, const char* verb, const wstring& catalog) {
  if (verb == nullptr) {
    std::printf("xdktool %s: registration unchanged\n", command);
  } else {
    std::printf("xdktool %s: %s %s\n", command, verb, printable(catalog).c_str());
  }
}
