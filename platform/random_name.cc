#include "platform/random_name.h"

#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {
constexpr char kHiddenPrefix[] = ".r8";
constexpr size_t kHiddenRandomLength = 12;

// The seed of a thread's generator: the system's random source, or a clock
// and process mix when it has none.
uint64_t fresh_seed() {
  uint64_t seed = 0;
  if (getrandom(&seed, sizeof seed, 0) == static_cast<ssize_t>(sizeof seed)) return seed;
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_nsec) * 6364136223846793005ull ^
         static_cast<uint64_t>(getpid()) << 20 ^ static_cast<uint64_t>(now.tv_sec);
}

// splitmix64 over a state seeded once per thread: a name costs no system
// call.
uint64_t next_random() {
  thread_local uint64_t state = fresh_seed();
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

std::string random_characters(const char* alphabet, size_t count) {
  const size_t size = std::strlen(alphabet);
  std::vector<unsigned char> bytes(count);
  if (count != 0 && getrandom(bytes.data(), count, 0) != static_cast<ssize_t>(count)) {
    uint64_t mix = fresh_seed();
    for (unsigned char& b : bytes) {
      mix = mix * 6364136223846793005ull + 1442695040888963407ull;
      b = static_cast<unsigned char>(mix >> 56);
    }
  }
  std::string out;
  out.reserve(count);
  for (unsigned char b : bytes) out.push_back(alphabet[b % size]);
  return out;
}

std::string hidden_temporary_name() {
  // Made by the thousand in a run: from the thread's generator, which
  // costs no system call.
  const size_t size = sizeof kLowerAlphanumeric - 1;
  std::string name = kHiddenPrefix;
  uint64_t bits = 0;
  for (size_t i = 0; i < kHiddenRandomLength; ++i) {
    if (i % 8 == 0) bits = next_random();
    name.push_back(kLowerAlphanumeric[(bits & 0xFF) % size]);
    bits >>= 8;
  }
  return name;
}

bool is_hidden_temporary_name(const std::string& name) {
  const size_t prefix = sizeof kHiddenPrefix - 1;
  if (name.size() != prefix + kHiddenRandomLength || name.compare(0, prefix, kHiddenPrefix) != 0) {
    return false;
  }
  return name.find_first_not_of(kLowerAlphanumeric, prefix) == std::string::npos;
}
