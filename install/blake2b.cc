#include "install/blake2b.h"

#include <sodium.h>

#include <cstdlib>
#include <mutex>

void sodium_ready() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (sodium_init() < 0) std::abort();
  });
}

template <size_t N>
Blake2b<N>::Blake2b() {
  static_assert(sizeof(m_state) >= sizeof(crypto_generichash_state), "hash state too small");
  // The fastest implementation for this processor is chosen there.
  sodium_ready();
  crypto_generichash_init(reinterpret_cast<crypto_generichash_state*>(m_state), nullptr, 0, N);
}

template <size_t N>
void Blake2b<N>::update(const uint8_t* data, size_t size) {
  crypto_generichash_update(reinterpret_cast<crypto_generichash_state*>(m_state), data, size);
}

template <size_t N>
std::array<uint8_t, N> Blake2b<N>::finish() {
  std::array<uint8_t, N> hash{};
  crypto_generichash_final(reinterpret_cast<crypto_generichash_state*>(m_state), hash.data(), N);
  return hash;
}

template class Blake2b<32>;
template class Blake2b<64>;
