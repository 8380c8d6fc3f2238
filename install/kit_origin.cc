#include "install/kit_origin.h"

#include <fcntl.h>

#include "platform/file.h"
#include "platform/text_encoding.h"

namespace {

// A signature file is four short lines; anything much larger is not one.
constexpr uint64_t kMaxSignatureFileBytes = 16384;

Status refused(unsigned code, const wstring& kitPath, uint64_t keyId, const wstring& why) {
  Status status = error_status(code, kitPath);
  status.note = keyId != 0 ? u"signature by key " + widen_lib(key_id_text(keyId)) + u": " + why
                           : why;
  return status;
}

}  // namespace

wstring signature_path_of(const wstring& kitPath) { return kitPath + u".minisig"; }

Status KitOriginCheck::begin(const wstring& kitPath, const TrustedKeys& keys) {
  m_kitPath = kitPath;
  m_origin = KitOrigin();
  m_expectsHash = false;
  restartHash();
  const wstring signaturePath = signature_path_of(kitPath);
  File file;
  Status status = File::open(signaturePath, O_RDONLY | O_NONBLOCK, 0, file);
  if (status.code == kErrorFileNotFound) {
    if (!keys.signatureRequired()) return Status();
    return refused(kErrorAccessDenied, kitPath, 0,
                   u"the kit is not signed (no " + signaturePath +
                       u"), and this installation requires a signature");
  }
  std::string text;
  FileInfo info;
  if (status.ok()) status = file.info(info);
  if (status.ok() && info.kind != PathKind::kRegular) {
    status = error_status(kErrorInvalidData, signaturePath);
    status.note = u"not a regular file";
  }
  if (status.ok()) status = file.readAll(text, kMaxSignatureFileBytes);
  if (status.ok()) status = parse_minisign_signature(text, signaturePath, m_signature);
  if (!status.ok()) return status;

  m_origin.keyId = m_signature.keyId;
  m_origin.trustedComment = m_signature.trustedComment;
  const TrustedKey* trusted = keys.find(m_signature.keyId);
  if (trusted == nullptr) {
    if (keys.signatureRequired()) {
      return refused(kErrorAccessDenied, kitPath, m_signature.keyId,
                     u"a key this installation does not trust");
    }
    m_origin.kind = KitOrigin::Kind::kUnknownSigner;
    return Status();
  }
  if (!m_signature.prehashed) {
    return refused(kErrorInvalidData, kitPath, m_signature.keyId,
                   u"the legacy form of minisign signature, which this installation does not "
                   u"accept; sign the kit again with minisign -S -m KIT (without -l)");
  }
  if (!comment_signed_by(m_signature, trusted->key)) {
    return refused(kErrorInvalidData, kitPath, m_signature.keyId,
                   u"the signature does not verify (its trusted comment was not signed by the "
                   u"key)");
  }
  m_key = trusted->key;
  m_origin.kind = KitOrigin::Kind::kSigned;
  m_origin.source = trusted->source;
  m_expectsHash = true;
  return Status();
}

void KitOriginCheck::observe(const uint8_t* data, size_t size) {
  if (m_expectsHash && !m_finished) m_hasher.update(data, size);
}

void KitOriginCheck::restartHash() {
  m_finished = false;
  m_verdict = Status();
  m_hasher = KitHasher();
  m_fileHash = KitHash{};
}

Status KitOriginCheck::finish() {
  if (!m_expectsHash || m_finished) return m_verdict;
  m_finished = true;
  m_fileHash = m_hasher.finish();
  if (!hash_signed_by(m_signature, m_key, m_fileHash)) {
    m_verdict = refused(kErrorInvalidData, m_kitPath, m_signature.keyId,
                        u"the signature does not verify: the kit is not the one the key signed");
  }
  return m_verdict;
}
