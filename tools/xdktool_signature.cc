#include "tools/xdktool_signature.h"

#include <cstring>

#include "platform/system_path.h"
#include "tools/xdktool_messages.h"

const char kSignatureOptionsHelp[] =
    "  --key FILE   trust only the minisign public key FILE (repeatable): the\n"
    "               kit must carry a signature (KIT.minisig) by one of them\n"
    "  --require-signature\n"
    "               refuse a kit that is not signed by a trusted key\n";

bool take_signature_option(int argc, char** argv, int& i, SignatureOptions& options,
                           std::string& error) {
  const char* arg = argv[i];
  if (std::strcmp(arg, "--require-signature") == 0) {
    options.required = true;
    return true;
  }
  if (std::strcmp(arg, "--key") == 0) {
    if (i + 1 >= argc || argv[i + 1][0] == '\0') {
      error = "--key needs a public key FILE";
      return true;
    }
    options.keys.push_back(from_system_path(argv[++i]));
    return true;
  }
  if (std::strncmp(arg, "--key=", 6) == 0) {
    if (arg[6] == '\0') {
      error = "--key needs a public key FILE";
      return true;
    }
    options.keys.push_back(from_system_path(arg + 6));
    return true;
  }
  return false;
}

TrustSettings trust_settings(const SignatureOptions& options) {
  TrustSettings settings = TrustSettings::forThisProcess();
  settings.givenKeys = options.keys;
  settings.requireSignature = options.required;
  return settings;
}

std::string origin_text(const KitOrigin& origin) {
  // The signer's own words, which may hold anything but a line's end.
  const std::string comment = tab_field(from_system_path(origin.trustedComment));
  switch (origin.kind) {
    case KitOrigin::Kind::kUnsigned: return "not signed";
    case KitOrigin::Kind::kUnknownSigner:
      return "signed by " + key_id_text(origin.keyId) +
             ", a key not trusted here (unverified): " + comment;
    case KitOrigin::Kind::kSigned:
      return "signed by " + key_id_text(origin.keyId) + ": " + comment + " (" +
             key_source_text(origin.source) + " key)";
  }
  return "not signed";
}
