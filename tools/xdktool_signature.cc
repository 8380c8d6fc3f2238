#include "tools/xdktool_signature.h"

#include <cstdio>
#include <cstring>

#include "platform/system_path.h"
#include "tools/xdktool_catalog_run.h"
#include "tools/xdktool_commands.h"
#include "tools/xdktool_messages.h"

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

namespace {

// "KIT: NOTE (code N)": a refusal the origin check named after the kit.
std::string refusal_text(const char* kitArg, const Status& refusal) {
  return std::string(kitArg) + ": " + printable(refusal.note) + " (code " +
         std::to_string(refusal.code) + ")";
}

}  // namespace

int begin_origin_check(const char* command, const char* kitArg, const SignatureOptions& options,
                       KitOriginCheck& origin, KitReader& kit) {
  TrustedKeys keys;
  Status status = keys.load(trust_settings(options));
  if (status.ok()) status = origin.begin(from_system_path(kitArg), keys);
  if (!status.ok()) {
    const bool namesKit = status.path == from_system_path(kitArg) && !status.note.empty();
    std::fprintf(stderr, "xdktool %s: %s\n", command,
                 namesKit ? refusal_text(kitArg, status).c_str() : failure_text(status).c_str());
    return kExitFailure;
  }
  kit.file().setOriginCheck(&origin);
  return kExitSuccess;
}

int open_signed_kit(const char* command, const char* kitArg, const SignatureOptions& options,
                    KitOriginCheck& origin, KitReader& kit, KitReading reading) {
  const int judged = begin_origin_check(command, kitArg, options, origin, kit);
  if (judged != kExitSuccess) return judged;
  unsigned code = kErrorSuccess;
  if (open_kit(from_system_path(kitArg), kit, code, reading) != KitOpenResult::kOpened) {
    std::fprintf(stderr, "xdktool %s: %s\n", command,
                 kit_failure_text(kitArg,
                                  kit.lastStatus().code == code ? kit.lastStatus()
                                                                : error_status(code),
                                  origin)
                     .c_str());
    return kExitFailure;
  }
  return kExitSuccess;
}

std::string kit_failure_text(const char* kitArg, const Status& failure,
                             const KitOriginCheck& origin) {
  if (!origin.verdict().ok()) return refusal_text(kitArg, origin.verdict());
  if (failure.systemError != 0) {
    // The system's words, named after what it refused (the kit, or the
    // temporary folder it would be unpacked into).
    Status named = failure;
    if (named.path.empty()) named.path = from_system_path(kitArg);
    return failure_text(named);
  }
  return std::string(kitArg) + ": " + kit_open_reason(failure.code) + " (code " +
         std::to_string(failure.code) + ")";
}
