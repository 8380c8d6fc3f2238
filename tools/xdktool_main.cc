// xdktool: makes and inspects distribution kits.
#include <cstdio>
#include <cstring>

#include "tools/xdktool_commands.h"

namespace {

void print_usage(FILE* out) {
  std::fputs(
      "usage: xdktool COMMAND [ARGS...]\n"
      "\n"
      "commands:\n"
      "  pack [options] DIR OUT.xdk   pack every regular file below DIR into a kit\n"
      "  list KIT                     show a kit's product records and files\n"
      "  install [--register] KIT CATALOG\n"
      "                               install a kit into a templates catalog\n"
      "\n"
      "'xdktool COMMAND --help' describes a command.\n",
      out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    print_usage(stderr);
    return kExitUsage;
  }
  const char* command = argv[1];
  if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0 ||
      std::strcmp(command, "help") == 0) {
    print_usage(stdout);
    return kExitSuccess;
  }
  if (std::strcmp(command, "pack") == 0) return xdktool_pack(argc - 1, argv + 1);
  if (std::strcmp(command, "list") == 0) return xdktool_list(argc - 1, argv + 1);
  if (std::strcmp(command, "install") == 0) return xdktool_install(argc - 1, argv + 1);
  std::fprintf(stderr, "xdktool: unknown command '%s'\n", command);
  print_usage(stderr);
  return kExitUsage;
}
