#include "tests/support/minisign_files.h"

#include <sodium.h>

#include <algorithm>
#include <cstdlib>

#include <string>

namespace test_support {

namespace {

std::string base64(const unsigned char* data, size_t size) {
  std::string out(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(&out[0], out.size(), data, size, sodium_base64_VARIANT_ORIGINAL);
  out.resize(out.size() - 1);  // the terminating zero
  return out;
}

void put_le64(uint64_t value, unsigned char* out) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

TestSigner::TestSigner() {
  if (sodium_init() < 0) std::abort();
  crypto_sign_keypair(m_public.data(), m_secret.data());
  randombytes_buf(&m_keyId, sizeof m_keyId);
}

std::string TestSigner::publicKeyFile() const {
  unsigned char bytes[42] = {'E', 'd'};
  put_le64(m_keyId, bytes + 2);
  std::copy(m_public.begin(), m_public.end(), bytes + 10);
  return "untrusted comment: a test key\n" + base64(bytes, sizeof bytes) + "\n";
}

std::string TestSigner::signatureFile(const std::string& bytes, const std::string& trustedComment,
                                      bool prehashed) const {
  unsigned char signed_[74] = {'E', static_cast<unsigned char>(prehashed ? 'D' : 'd')};
  put_le64(m_keyId, signed_ + 2);
  const unsigned char* message = reinterpret_cast<const unsigned char*>(bytes.data());
  unsigned char hash[64];
  size_t length = bytes.size();
  if (prehashed) {
    crypto_generichash(hash, sizeof hash, message, bytes.size(), nullptr, 0);
    message = hash;
    length = sizeof hash;
  }
  crypto_sign_detached(signed_ + 10, nullptr, message, length, m_secret.data());
  std::string global(reinterpret_cast<const char*>(signed_ + 10), 64);
  global += trustedComment;
  unsigned char globalSignature[64];
  crypto_sign_detached(globalSignature, nullptr, reinterpret_cast<const unsigned char*>(global.data()),
                       global.size(), m_secret.data());
  return "untrusted comment: signature from a test key\n" + base64(signed_, sizeof signed_) +
         "\ntrusted comment: " + trustedComment + "\n" + base64(globalSignature, 64) + "\n";
}

}  // namespace test_support
