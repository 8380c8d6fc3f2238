#include "tools/pack_time.h"

#include <cerrno>
#include <cstdlib>

long long packed_time(const PackTimeRule& rule, long long modified) {
  switch (rule.kind) {
    case PackTimeRule::Kind::kFixed: return rule.seconds;
    case PackTimeRule::Kind::kCapped: return modified < rule.seconds ? modified : rule.seconds;
    case PackTimeRule::Kind::kModified: break;
  }
  return modified;
}

bool parse_pack_time(const std::string& text, long long& seconds) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  seconds = std::strtoll(text.c_str(), &end, 10);
  return errno == 0 && *end == '\0' && seconds >= kEarliestPackTime && seconds <= kLatestPackTime;
}

bool parse_source_date_epoch(const std::string& text, long long& seconds) {
  // strtoll would also take blanks and a sign.
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  return parse_pack_time(text, seconds);
}
