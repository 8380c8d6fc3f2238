// Who made a kit, decided before anything of it is used, and proved as it
// is read. The signature beside the kit (KIT.minisig, kit_signature.h) is
// checked against the trusted keys (trusted_keys.h) when the kit is
// opened: a signature that does not verify, or a missing or untrusted one
// where a signature is required, refuses the kit before a byte of it is
// inflated. The signature itself covers the hash of the whole kit file,
// which is taken from the very bytes the reader inflates (observe), so the
// kit is proved only once it has been read to its end (finish): a kit
// changed on disk between the check and its use fails there, before
// anything of it reaches a catalog.
//
// One thread at a time: observe may be called from the reader's inflation
// thread while the caller's thread does not touch the object.
#ifndef QXR8_INSTALL_KIT_ORIGIN_H_
#define QXR8_INSTALL_KIT_ORIGIN_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "install/kit_signature.h"
#include "install/trusted_keys.h"
#include "platform/status.h"
#include "platform/wstring.h"

struct KitOrigin {
  enum class Kind {
    kUnsigned,       // no signature beside the kit
    kUnknownSigner,  // signed by a key nobody here trusts: not checked
    kSigned,         // signed by a trusted key: checked
  };
  Kind kind = Kind::kUnsigned;
  uint64_t keyId = 0;          // kUnknownSigner and kSigned
  KeySource source = KeySource::kGiven;  // kSigned
  std::string trustedComment;  // kSigned: verified; kUnknownSigner: as written, unverified
};

// The signature file of the kit at `kitPath`: the same path with
// ".minisig" appended, as minisign names it.
wstring signature_path_of(const wstring& kitPath);

class KitOriginCheck {
 public:
  // Reads the signature beside `kitPath` and judges it with `keys`.
  // Success leaves origin() set; a kit signed by a trusted key must still
  // prove its bytes (expectsHash). Fails, naming the kit, the key id and
  // the reason: 13 for a signature that does not parse or does not verify
  // (its trusted comment not signed by the key) or is of the legacy form
  // (the note says how to sign it again); 5 for a kit without a signature,
  // or signed by a key that does not count, where a signature is required.
  Status begin(const wstring& kitPath, const TrustedKeys& keys);

  const KitOrigin& origin() const { return m_origin; }
  bool expectsHash() const { return m_expectsHash; }

  // The kit file's bytes, in order, each once (the reader's source
  // observer). Nothing is kept but the running hash.
  void observe(const uint8_t* data, size_t size);

  // Forgets the bytes observed and any verdict, for a kit read again from
  // its first byte (the signature's judgement stays).
  void restartHash();

  // Once every byte was observed: success, or 13 when they are not the
  // bytes the key signed. Success at once when no hash is expected.
  Status finish();

  // What finish found: a failure only once finish has refused the kit.
  const Status& verdict() const { return m_verdict; }
  // The hash of the kit file once finish has judged it (a kit that
  // expects one); zero otherwise.
  const KitHash& fileHash() const { return m_fileHash; }

 private:
  wstring m_kitPath;
  KitOrigin m_origin;
  MinisignSignature m_signature;
  MinisignKey m_key;
  bool m_expectsHash = false;
  bool m_finished = false;
  Status m_verdict;  // what finish found
  KitHasher m_hasher;
  KitHash m_fileHash{};
};

#endif  // QXR8_INSTALL_KIT_ORIGIN_H_
