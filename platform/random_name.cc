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
}  // namespace

std::string random_characters(const char* alphabet, size_t count) {
  const size_t size = std::strlen(alphabet);
  std::vector<unsigned char> bytes(count);
  if (count != 0 && getrandom(bytes.data(), count, 0) != static_cast<ssize_t>(count)) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t mix = static_cast<uint64_t>(now.tv_nsec) * 6364136223846793005ull ^
                   static_cast<uint64_t>(getpid()) << 20 ^ static_cast<uint64_t>(now.tv_sec);
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
  return kHiddenPrefix + random_characters(kLowerAlphanumeric, kHiddenRandomLength);
}

bool is_hidden_temporary_name(const std::string& name) {
  const size_t prefix = sizeof kHiddenPrefix - 1;
  if (name.size() != prefix + kHiddenRandomLength || name.compare(0, prefix, kHiddenPrefix) != 0) {
    return false;
  }
  return name.find_first_not_of(kLowerAlphanumeric, prefix) == std::string::npos;
}
