// Detached kit signatures in minisign's format, so that authors sign with
// the tool they already have (`minisign -S -m KIT`, which writes
// KIT.minisig) and anyone can check a kit by hand (`minisign -V`). No key
// or signature format of our own, and no signing: only the parse of the two
// files minisign writes and the checks it makes, with libsodium.
//
// A public key file: "untrusted comment: ..." and the base64 of "Ed", the
// 8-byte key id and the 32-byte Ed25519 key. A signature file: an untrusted
// comment, the base64 of the algorithm ("ED": the signature is over the
// BLAKE2b-512 of the file; "Ed": over the file itself, the legacy form),
// the key id and the 64-byte signature; "trusted comment: TEXT"; and the
// base64 of the global signature, over the signature and TEXT together.
//
// Pure functions over memory and a streaming hash; any thread.
#ifndef QXR8_INSTALL_KIT_SIGNATURE_H_
#define QXR8_INSTALL_KIT_SIGNATURE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "install/blake2b.h"
#include "platform/status.h"
#include "platform/wstring.h"

inline constexpr size_t kKitHashBytes = 64;
using KitHash = std::array<uint8_t, kKitHashBytes>;

struct MinisignKey {
  uint64_t keyId = 0;  // the 8 id bytes read as a little-endian number
  std::array<uint8_t, 32> publicKey{};
};

struct MinisignSignature {
  bool prehashed = false;  // "ED"; the legacy "Ed" signs the whole file
  uint64_t keyId = 0;
  std::array<uint8_t, 64> signature{};
  std::string trustedComment;  // after "trusted comment: ", as written
  std::array<uint8_t, 64> globalSignature{};
};

// The key id as minisign prints it: sixteen uppercase hex digits.
std::string key_id_text(uint64_t keyId);

// Parses the text of a public key file (or the base64 line alone). Fails
// with 13, `where` as the path and a note saying what is wrong.
Status parse_minisign_key(const std::string& text, const wstring& where, MinisignKey& out);

// Parses the text of a signature file. Fails with 13, `where` as the path
// and a note saying what is wrong; a trusted comment longer than a line
// minisign writes, or control characters other than tab in it, are wrong.
Status parse_minisign_signature(const std::string& text, const wstring& where,
                                MinisignSignature& out);

// Whether `key` made the global signature: the trusted comment is the one
// the author signed. Only meaningful for a signature of `key`'s id.
bool comment_signed_by(const MinisignSignature& signature, const MinisignKey& key);

// Whether `key` signed `hash`, the BLAKE2b-512 of the kit file (the
// prehashed form only).
bool hash_signed_by(const MinisignSignature& signature, const MinisignKey& key,
                    const KitHash& hash);

// The BLAKE2b-512 of a file, fed its bytes in order, once each.
using KitHasher = Blake2b<kKitHashBytes>;

#endif  // QXR8_INSTALL_KIT_SIGNATURE_H_
