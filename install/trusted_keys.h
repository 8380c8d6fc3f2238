// Whose signatures a kit may carry: public keys (kit_signature.h) from the
// administrator's folder, the user's folder, the build itself and the
// command line, and when a signature is required at all.
//
// - An administrator opts a machine in by putting a key in the folder
//   fixed at build time (/etc/qxr8/trusted-keys by default): a signature
//   is then required, and only the administrator's and the built-in keys
//   count, never a user's.
// - Keys given on the command line (xdktool --key) require a signature by
//   one of them, and only they count.
// - Otherwise the user's keys ($XDG_CONFIG_HOME/qxr8/trusted-keys) count
//   too, and a signature is required only when asked for
//   (--require-signature); an unsigned kit installs as it always has.
//
// Reads files; any thread, one object per thread.
#ifndef QXR8_INSTALL_TRUSTED_KEYS_H_
#define QXR8_INSTALL_TRUSTED_KEYS_H_

#include <cstdint>
#include <vector>

#include "install/kit_signature.h"
#include "platform/status.h"
#include "platform/wstring.h"

enum class KeySource { kAdministrator, kUser, kBuiltIn, kGiven };

// "the administrator's", "the user's", "built in", "given": for the tool's
// output (the wizard words it in its own language).
const char* key_source_text(KeySource source);

struct TrustedKey {
  MinisignKey key;
  KeySource source = KeySource::kGiven;
  wstring file;  // where it was read (empty for a built-in key)
};

struct TrustSettings {
  wstring administratorFolder;
  wstring userFolder;           // empty: none
  std::vector<wstring> givenKeys;  // key files from the command line
  bool requireSignature = false;

  // For this process: the build's administrator folder, and the user's
  // from $XDG_CONFIG_HOME, else ~/.config. Nothing else is consulted: a
  // user cannot point the administrator's folder elsewhere.
  static TrustSettings forThisProcess();
};

class TrustedKeys {
 public:
  // Reads the keys `settings` names: every "*.pub" of each folder (a
  // missing folder holds none, nor does a user's folder that cannot be
  // opened), the built-in keys and the given files.
  // A key file that is not a minisign public key fails the load, named,
  // rather than leave a machine trusting less than its administrator
  // meant; so does a given file that cannot be read.
  Status load(const TrustSettings& settings);

  // Whether a kit must carry a signature of a key that counts.
  bool signatureRequired() const { return m_required; }

  // The key of `keyId` among those that count; null when none.
  const TrustedKey* find(uint64_t keyId) const;

  // The keys that count.
  const std::vector<TrustedKey>& keys() const { return m_keys; }

 private:
  std::vector<TrustedKey> m_keys;
  bool m_required = false;
};

// The public keys built into this program (-DQXR8_TRUSTED_KEYS=FILE...),
// as the texts of their files.
extern const char* const kBuiltInKeyTexts[];
extern const size_t kBuiltInKeyCount;

#endif  // QXR8_INSTALL_TRUSTED_KEYS_H_
