// xdktool list: a kit's records and files, read with the wizard's reader.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "install/install_data.h"
#include "platform/file_system.h"
#include "platform/system_path.h"
#include "platform/text_encoding.h"
#include "tools/xdktool_commands.h"
#include "tools/xdktool_messages.h"
#include "tools/xdktool_signature.h"

const char kListUsage[] =
    "usage: xdktool list [--key FILE]... [--require-signature] KIT\n"
    "\n"
    "Opens KIT as the setup wizard does and prints, tab-separated,\n"
    "  signature ORIGIN                             who signed the kit\n"
    "  record LANGUAGE PRODUCT VENDOR DESCRIPTION   for each product record\n"
    "  file NAME TIME SIZE                          for each file, in kit order\n"
    "with NAME as stored and TIME in UTC. Control characters are shown as \\xNN.\n"
    "ORIGIN is 'signed by KEYID: COMMENT (WHOSE key)' for a kit signed by a\n"
    "trusted key (its trusted comment, verified), 'signed by KEYID, a key not\n"
    "trusted here (unverified): COMMENT', or 'not signed'.\n"
    "\n"
    XDKTOOL_SIGNATURE_OPTIONS_HELP
    "  -h, --help   show this text\n"
    "  --           end of options\n"
    "\n"
    "Exit status: 0 listed, 1 the kit cannot be read, is damaged or its\n"
    "signature is refused, 2 usage.\n";

int xdktool_list(int argc, char** argv) {
  const char* kitPath = nullptr;
  SignatureOptions signature;
  const int status = read_kit_argument("list", kListUsage, argc, argv, signature, kitPath);
  if (status >= 0) return status;

  KitOriginCheck origin;
  KitReader reader;
  const int opened = open_signed_kit("list", kitPath, signature, origin, reader, KitReading::kWhole);
  if (opened != kExitSuccess) return opened;
  std::printf("signature\t%s\n", origin_text(origin.origin()).c_str());
  for (const config::KitProductInfo& record : reader.productInfo) {
    std::printf("record\t%s\t%s\t%s\t%s\n", tab_field(record.language).c_str(),
                tab_field(record.product).c_str(), tab_field(record.vendor).c_str(),
                tab_field(record.description).c_str());
  }
  for (const config::KitEntry& entry : reader.entries) {
    std::printf("file\t%s\t%s\t%" PRIu32 "\n", tab_field(entry.name).c_str(),
                format_file_time(entry.lastWriteTime).c_str(), entry.size);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("xdktool list: cannot write the listing\n", stderr);
    return kExitFailure;
  }
  return kExitSuccess;
}
