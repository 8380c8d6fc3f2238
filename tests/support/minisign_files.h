// Keys and signatures in minisign's file formats, made with libsodium, for
// the tests of signed kits: the tests need kits signed by keys they own,
// signed wrongly on purpose, and in the legacy form. Any thread.
#ifndef QXR8_TESTS_SUPPORT_MINISIGN_FILES_H_
#define QXR8_TESTS_SUPPORT_MINISIGN_FILES_H_

#include <array>
#include <cstdint>
#include <string>

namespace test_support {

class TestSigner {
 public:
  // A new key pair with a random key id.
  TestSigner();

  uint64_t keyId() const { return m_keyId; }
  // The text of the public key file minisign would write.
  std::string publicKeyFile() const;
  // The text of the signature file of `bytes` with `trustedComment`, in
  // the prehashed form (or the legacy one).
  std::string signatureFile(const std::string& bytes, const std::string& trustedComment,
                            bool prehashed = true) const;

 private:
  uint64_t m_keyId = 0;
  std::array<unsigned char, 32> m_public{};
  std::array<unsigned char, 64> m_secret{};
};

}  // namespace test_support

#endif  // QXR8_TESTS_SUPPORT_MINISIGN_FILES_H_
