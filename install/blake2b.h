// BLAKE2b of bytes fed in pieces, in the two sizes this program keeps: 64
// bytes, the hash of a kit file that minisign signs and a record names;
// and 32, the hash of one file's bytes that a record keeps. libsodium's,
// set up on first use. Any thread; one object per stream of bytes.
#ifndef QXR8_INSTALL_BLAKE2B_H_
#define QXR8_INSTALL_BLAKE2B_H_

#include <array>
#include <cstddef>
#include <cstdint>

template <size_t N>
class Blake2b {
 public:
  Blake2b();
  void update(const uint8_t* data, size_t size);
  // The hash of everything fed; the object is used up.
  std::array<uint8_t, N> finish();

 private:
  alignas(64) unsigned char m_state[384];
};

extern template class Blake2b<32>;
extern template class Blake2b<64>;

// Makes libsodium ready (once per process; aborts when it cannot be).
void sodium_ready();

#endif  // QXR8_INSTALL_BLAKE2B_H_
