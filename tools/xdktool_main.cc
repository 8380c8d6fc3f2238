// xdktool: makes, checks and installs distribution kits.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tools/xdktool_commands.h"
#include "tools/xdktool_signature.h"

namespace {

const char kUsage[] =
    "usage: xdktool COMMAND [ARGS...]\n"
    "\n"
    "commands:\n"
    "  pack [options] DIR OUT.xdk   pack every regular file below DIR into a kit\n"
    "  list KIT                     show a kit's product records and files\n"
    "  verify KIT                   check a kit's structure and checksum\n"
    "  install [--register] [--dry-run] KIT CATALOG\n"
    "                               install a kit into a templates catalog\n"
    "  remove [--unregister] [--dry-run] KIT CATALOG | CATALOG NAME\n"
    "                               take a kit back out of a templates catalog\n"
    "  check KIT CATALOG | CATALOG NAME\n"
    "                               tell which files of a catalog differ from a kit\n"
    "  installed [--files NAME] CATALOG\n"
    "                               list the kits a catalog holds, or one's files\n"
    "  help [COMMAND]               show this text, or a command's\n"
    "\n"
    "options:\n"
    "  -h, --help                   show this text\n"
    "  --version                    show the version\n"
    "\n"
    "'xdktool help COMMAND' or 'xdktool COMMAND --help' describes a command.\n";

struct Command {
  const char* name;
  int (*run)(int, char**);
  const char* usage;
};

const Command kCommands[] = {
    {"pack", xdktool_pack, kPackUsage},
    {"list", xdktool_list, kListUsage},
    {"verify", xdktool_verify, kVerifyUsage},
    {"install", xdktool_install, kInstallUsage},
    {"remove", xdktool_remove, kRemoveUsage},
    {"check", xdktool_check, kCheckUsage},
    {"installed", xdktool_installed, kInstalledUsage},
};

const Command* find_command(const char* name) {
  for (const Command& command : kCommands) {
    if (std::strcmp(command.name, name) == 0) return &command;
  }
  return nullptr;
}

int main_usage_error(const char* message) {
  std::fprintf(stderr, "xdktool: %s\nTry 'xdktool --help'.\n", message);
  return kExitUsage;
}

}  // namespace

int usage_error(const char* command, const char* message) {
  std::fprintf(stderr, "xdktool %s: %s\nTry 'xdktool %s --help'.\n", command, message, command);
  return kExitUsage;
}

int read_kit_argument(const char* command, const char* usage, int argc, char** argv,
                      SignatureOptions& signature, const char*& kitPath) {
  kitPath = nullptr;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    std::string error;
    if (!optionsEnded && take_signature_option(argc, argv, i, signature, error)) {
      if (!error.empty()) return usage_error(command, error.c_str());
    } else if (!optionsEnded && std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
    } else if (!optionsEnded && (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0)) {
      std::fputs(usage, stdout);
      return kExitSuccess;
    } else if (!optionsEnded && arg[0] == '-' && arg[1] != '\0') {
      return usage_error(command, (std::string("unknown option '") + arg + "'").c_str());
    } else if (kitPath != nullptr) {
      return usage_error(command, "expected one KIT");
    } else {
      kitPath = arg;
    }
  }
  if (kitPath == nullptr) return usage_error(command, "expected one KIT");
  return -1;
}

int main(int argc, char** argv) {
  // A write past the file-size limit then fails with a code (and an
  // installation rolls back) instead of killing the process unannounced.
  signal(SIGXFSZ, SIG_IGN);
  if (argc < 2) return main_usage_error("expected a COMMAND");
  const char* name = argv[1];
  if (std::strcmp(name, "--help") == 0 || std::strcmp(name, "-h") == 0) {
    std::fputs(kUsage, stdout);
    return kExitSuccess;
  }
  if (std::strcmp(name, "--version") == 0) {
    std::puts("xdktool " QXR8_VERSION);
    return kExitSuccess;
  }
  if (std::strcmp(name, "help") == 0) {
    if (argc == 2) {
      std::fputs(kUsage, stdout);
      return kExitSuccess;
    }
    if (argc > 3) return main_usage_error("help takes one COMMAND");
    const Command* command = find_command(argv[2]);
    if (command == nullptr) {
      const std::string message = std::string("unknown command '") + argv[2] + "'";
      return main_usage_error(message.c_str());
    }
    std::fputs(command->usage, stdout);
    return kExitSuccess;
  }
  const Command* command = find_command(name);
  if (command == nullptr) {
    const std::string message = std::string("unknown command '") + name + "'";
    return main_usage_error(message.c_str());
  }
  return command->run(argc - 1, argv + 1);
}
