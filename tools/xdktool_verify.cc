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
#include "tools/xdktool_signature.h"

const char kVerifyUsage[] =
    "usage: xdktool verify [--key FILE]... [--require-signature] KIT\n"
    "\n"
    "Reads KIT as the setup wizard does: unpacks it, checks its product\n"
    "records and file table, and, when the kit carries a checksum (kits made\n"
    "by 'xdktool pack' do), that the unpacked contents match it, and the\n"
    "header and file table their own checksum; and the kit's signature\n"
    "(KIT.minisig), when a key trusted here made it. Prints two lines on\n"
    "standard output: either\n"
    "  KIT: ok, N files, checksum verified\n"
    "or, for a kit made by a tool that adds no checksum,\n"
    "  KIT: ok, N files, no checksum (damage that keeps the structure\n"
    "  cannot be detected)\n"
    "then who signed it, as 'xdktool list' says it:\n"
    "  KIT: signed by KEYID: COMMENT (WHOSE key)\n"
    "  KIT: signed by KEYID, a key not trusted here (unverified): COMMENT\n"
    "  KIT: not signed\n"
    "A signature that does not verify, or a missing or untrusted one where a\n"
    "signature is required (a key in the administrator's folder, --key,\n"
    "--require-signature), is a failure.\n"
    "\n"
    XDKTOOL_SIGNATURE_OPTIONS_HELP
    "  -h, --help   show this text\n"
    "  --           end of options\n"
    "\n"
    "Exit status: 0 the kit can be installed, 1 it cannot be read, is\n"
    "damaged or its signature is refused, 2 usage.\n";

int xdktool_verify(int argc, char** argv) {
  const char* kitPath = nullptr;
  SignatureOptions signature;
  const int status = read_kit_argument("verify", kVerifyUsage, argc, argv, signature, kitPath);
  if (status >= 0) return status;

  KitOriginCheck origin;
  KitReader reader;
  const int opened = open_signed_kit("verify", kitPath, signature, origin, reader, KitReading::kWhole);
  if (opened != kExitSuccess) return opened;
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
  std::printf("%s: %s\n", kitPath, origin_text(origin.origin()).c_str());
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("xdktool verify: cannot write the result\n", stderr);
    return kExitFailure;
  }
  return kExitSuccess;
}
