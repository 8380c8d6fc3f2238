// The signature options of every command that reads a kit, and a kit's
// origin as the tool says it. Main thread.
#ifndef QXR8_TOOLS_XDKTOOL_SIGNATURE_H_
#define QXR8_TOOLS_XDKTOOL_SIGNATURE_H_

#include <string>
#include <vector>

#include "install/kit_origin.h"
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

// The options' part of every command's help.
extern const char kSignatureOptionsHelp[];

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

#endif  // QXR8_TOOLS_XDKTOOL_SIGNATURE_H_
