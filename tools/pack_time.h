// The time each packed file carries: its modification time, one time for
// all (--time), or its modification time capped at SOURCE_DATE_EPOCH, the
// reproducible builds' convention for "no file is newer than the source".
// Plain values; any thread.
#ifndef QXR8_TOOLS_PACK_TIME_H_
#define QXR8_TOOLS_PACK_TIME_H_

#include <string>

// Seconds since 1970-01-01 UTC that a kit's file time can hold: from
// 1601-01-01 (file time 0) to far beyond any real date.
inline constexpr long long kEarliestPackTime = -11644473600LL;
inline constexpr long long kLatestPackTime = 100000000000LL;

struct PackTimeRule {
  enum class Kind { kModified, kFixed, kCapped };
  Kind kind = Kind::kModified;
  long long seconds = 0;  // the time of kFixed, the cap of kCapped
};

// The time of a file modified at `modified` under `rule`.
long long packed_time(const PackTimeRule& rule, long long modified);

// Reads --time's decimal seconds (a sign allowed) within the range above;
// false when `text` is anything else.
bool parse_pack_time(const std::string& text, long long& seconds);

// Reads SOURCE_DATE_EPOCH's value: decimal digits only, as `date +%s`
// prints them, up to kLatestPackTime. False for anything else, an empty
// value included (the convention asks a build to stop on a bad value
// rather than silently use the files' own times).
bool parse_source_date_epoch(const std::string& text, long long& seconds);

#endif  // QXR8_TOOLS_PACK_TIME_H_
