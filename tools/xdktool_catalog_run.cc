#include "tools/xdktool_catalog_run.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "install/preinstall_checks.h"
#include "platform/string_utils.h"
#include "platform/system_path.h"
#include "platform/text_encoding.h"
#include "tools/xdktool_commands.h"
#include "tools/xdktool_messages.h"

std::string printable(const wstring& text) {
  std::string out = to_terminal_text(text);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return out;
}

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

int open_checked_kit(const char* command, const char* kitArg, KitReader& kit) {
  const wstring kitPath = from_system_path(kitArg);
  if (!kit_exists(kitPath)) {
    std::fprintf(stderr, "xdktool %s: %s: the kit does not exist\n", command, kitArg);
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
  unsigned code = kErrorSuccess;
  if (open_kit(kitPath, kit, code) != KitOpenResult::kOpened) {
    std::fprintf(stderr, "xdktool %s: %s: %s (code %u)\n", command, kitArg,
                 kit_open_reason(code), code);
    return kExitFailure;
  }
  return kExitSuccess;
}
