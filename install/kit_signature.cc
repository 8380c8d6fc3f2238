#include "install/kit_signature.h"

#include <sodium.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/text_encoding.h"

namespace {

static_assert(sizeof(crypto_generichash_state) <= 384, "hash state does not fit");
static_assert(alignof(crypto_generichash_state) <= 64, "hash state alignment");

constexpr char kUntrustedPrefix[] = "untrusted comment: ";
constexpr char kTrustedPrefix[] = "trusted comment: ";
// The longest trusted comment minisign writes, with room to spare; a longer
// one is not from minisign.
constexpr size_t kMaxCommentBytes = 8192;

Status defect(const wstring& where, const char* what) {
  Status status = error_status(kErrorInvalidData, where);
  status.note = widen_lib(what);
  return status;
}

// The lines of `text`, "\r\n" or "\n" ended; false for more than `most`.
bool split_lines(const std::string& text, size_t most, std::vector<std::string>& lines) {
  lines.clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    if (lines.size() > most) return false;
    start = end + 1;
  }
  return true;
}

bool decode(const std::string& base64, uint8_t* out, size_t size) {
  size_t got = 0;
  return sodium_base642bin(out, size, base64.data(), base64.size(), nullptr, &got, nullptr,
                           sodium_base64_VARIANT_ORIGINAL) == 0 &&
         got == size;
}

uint64_t load_le64(const uint8_t* bytes) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

}  // namespace

std::string key_id_text(uint64_t keyId) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(keyId));
  return text;
}

Status parse_minisign_key(const std::string& text, const wstring& where, MinisignKey& out) {
  sodium_ready();
  out = MinisignKey();
  std::vector<std::string> lines;
  if (!split_lines(text, 3, lines)) return defect(where, "not a minisign public key");
  // The untrusted comment is optional here: a key may be given as its
  // base64 line alone.
  size_t at = 0;
  if (!lines.empty() && lines[0].rfind(kUntrustedPrefix, 0) == 0) at = 1;
  uint8_t bytes[2 + 8 + 32];
  if (at >= lines.size() || !decode(lines[at], bytes, sizeof bytes)) {
    return defect(where, "not a minisign public key");
  }
  if (bytes[0] != 'E' || bytes[1] != 'd') {
    return defect(where, "a public key of an algorithm minisign does not use");
  }
  out.keyId = load_le64(bytes + 2);
  std::copy(bytes + 10, bytes + 42, out.publicKey.begin());
  return Status();
}

Status parse_minisign_signature(const std::string& text, const wstring& where,
                                MinisignSignature& out) {
  sodium_ready();
  out = MinisignSignature();
  std::vector<std::string> lines;
  if (!split_lines(text, 4, lines) || lines.size() != 4 ||
      lines[0].rfind(kUntrustedPrefix, 0) != 0 || lines[2].rfind(kTrustedPrefix, 0) != 0) {
    return defect(where, "not a minisign signature");
  }
  uint8_t bytes[2 + 8 + 64];
  if (!decode(lines[1], bytes, sizeof bytes)) return defect(where, "not a minisign signature");
  if (bytes[0] == 'E' && bytes[1] == 'D') {
    out.prehashed = true;
  } else if (!(bytes[0] == 'E' && bytes[1] == 'd')) {
    return defect(where, "a signature of an algorithm minisign does not use");
  }
  out.keyId = load_le64(bytes + 2);
  std::copy(bytes + 10, bytes + 74, out.signature.begin());
  out.trustedComment = lines[2].substr(sizeof kTrustedPrefix - 1);
  if (out.trustedComment.size() > kMaxCommentBytes) {
    return defect(where, "a trusted comment longer than minisign writes");
  }
  for (const char c : out.trustedComment) {
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f) {
      return defect(where, "a trusted comment with control characters");
    }
  }
  if (!decode(lines[3], out.globalSignature.data(), out.globalSignature.size())) {
    return defect(where, "not a minisign signature");
  }
  return Status();
}

bool comment_signed_by(const MinisignSignature& signature, const MinisignKey& key) {
  sodium_ready();
  std::string message(reinterpret_cast<const char*>(signature.signature.data()),
                      signature.signature.size());
  message += signature.trustedComment;
  return crypto_sign_verify_detached(signature.globalSignature.data(),
                                     reinterpret_cast<const unsigned char*>(message.data()),
                                     message.size(), key.publicKey.data()) == 0;
}

bool hash_signed_by(const MinisignSignature& signature, const MinisignKey& key,
                    const KitHash& hash) {
  sodium_ready();
  return signature.prehashed &&
         crypto_sign_verify_detached(signature.signature.data(), hash.data(), hash.size(),
                                     key.publicKey.data()) == 0;
}


