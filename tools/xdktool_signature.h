// The signature options of every command that reads a kit, and a kit's
// origin as the tool says it. Main thread.
#ifndef QXR8_TOOLS_XDKTOOL_SIGNATURE_H_
#define QXR8_TOOLS_XDKTOOL_SIGNATURE_H_

#include <string>
#include <vector>

#include "install/install_data.h"
#include "install/kit_origin.h"
#include "install/preinstall_checks.h"
#include "install/trusted_keys.h"
#include "platform/status.h"
#include "platform/wstring.h"

// --key FILE (repeatable): only these keys count, and one of them must
// have signed the kit. --require-signature: a kit must be signed by a key
// that counts.
struct SignatureOptions {
  std::vector<wstring> keys;
  bool required = false;
};

// The options' part of every command's help (a literal, to be joined to
// each usage text).
#define XDKTOOL_SIGNATURE_OPTIONS_HELP                                          \
  "  --key FILE   trust only the minisign public key FILE (repeatable): the\n" \
  "               kit must carry a signature (KIT.minisig) by one of them\n"   \
  "  --require-signature\n"                                                    \
  "               refuse a kit that is not signed by a trusted key\n"

// When argv[i] is one of the signature options, takes it (and the value
// of --key, from argv[i + 1] or after "="), advancing `i`, and returns
// true; `error` is then set for a --key without a file. False for any
// other argument.
bool take_signature_option(int argc, char** argv, int& i, SignatureOptions& options,
                           std::string& error);

// The trust this process has with `options`: the administrator's and the
// user's folders, the built-in keys, and the given ones.
TrustSettings trust_settings(const SignatureOptions& options);

// "signed by KEYID: COMMENT (the administrator's key)", "signed by KEYID, a
// key not trusted here (unverified): COMMENT" or "not signed", the comment's
// tabs and control characters escaped.
std::string origin_text(const KitOrigin& origin);

// Loads the keys that count with `options`, judges the signature beside
// `kitArg` with them (`origin`) and attaches the check to `kit`, so that
// reading the kit proves its bytes. 0; otherwise 1 after one line on
// stderr, "xdktool COMMAND: KIT: REASON (code N)" (or naming the key or
// signature file that could not be used). Nothing of the kit is read.
int begin_origin_check(const char* command, const char* kitArg, const SignatureOptions& options,
                       KitOriginCheck& origin, KitReader& kit);

// begin_origin_check, then the kit opened as `reading` says
// (preinstall_checks.h). 0 when `kit` is open, its bytes proved when read
// whole; otherwise 1 after one line on stderr "xdktool COMMAND: KIT:
// REASON (code N)" (kit_failure_text).
int open_signed_kit(const char* command, const char* kitArg, const SignatureOptions& options,
                    KitOriginCheck& origin, KitReader& kit, KitReading reading);

// "KIT: REASON (code N)" for a kit whose reading failed with `failure`:
// the signature's reason when `origin` refused the kit, else the system's
// words for the errno `failure` carries (then KIT is the path it names,
// when it names one), else the reason for the code.
std::string kit_failure_text(const char* kitArg, const Status& failure,
                             const KitOriginCheck& origin);

#endif  // QXR8_TOOLS_XDKTOOL_SIGNATURE_H_
