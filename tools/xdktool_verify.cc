// xdktool verify: whether a kit is whole, read with the wizard's reader.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "install/install_data.h"
#include "install/kit_trailer.h"
#include "platform/file_system.h"
#include "platform/system_path.h"
#include "platform/text_encoding.h"
#include "tools/xdktool_commands.h"
#include "tools/xdktool_messages.h"

const char kVerifyUsage[] =
    "usage: xdktool verify KIT\n"
    "\n"
    "Reads KIT as the setup wizard does: unpacks it, checks its product\n"
    "records and file table, and, when the kit carries a checksum (kits made\n"
    "by 'xdktool pack' do), that the unpacked contents match it, and the\n"
    "header and file table their own checksum. Prints one line on standard\n"
    "output, either\n"
    "  KIT: ok, N files, checksum verified\n"
    "or, for a kit made by a tool that adds no checksum,\n"
    "  KIT: ok, N files, no checksum (damage that keeps the structure\n"
    "  cannot be detected)\n"
    "\n"
    "  -h, --help   show this text\n"
    "  --           end of options\n"
    "\n"
    "Exit status: 0 the kit can be installed, 1 it cannot be read or is\n"
    "damaged, 2 usage.\n";

int xdktool_verify(int argc, char** argv) {
  const char* kitPath = nullptr;
  const int status = read_kit_argument("verify", kVerifyUsage, argc, argv, kitPath);
  if (status >= 0) return status;

  KitReader reader;
  const unsigned code = reader.open(from_system_path(kitPath));
  if (code != kErrorSuccess) {
    std::fprintf(stderr, "xdktool verify: %s: %s (code %u)\n", kitPath, kit_open_reason(code),
                 code);
    return kExitFailure;
  }
  // The reader has checked a trailer if there is one; this only asks
  // whether there was.
  const int hasTrailer = config::kit_file_trailer_version(kitPath);
  if (hasTrailer < 0) {
    std::fprintf(stderr, "xdktool verify: %s: %s\n", kitPath, std::strerror(errno));
    return kExitFailure;
  }
  std::printf("%s: ok, %zu files, %s\n", kitPath, reader.entries.size(),
              hasTrailer != 0 ? "checksum verified"
                              : "no checksum (damage that keeps the structure cannot be detected)");
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("xdktool verify: cannot write the result\n", stderr);
    return kExitFailure;
  }
  return kExitSuccess;
}
