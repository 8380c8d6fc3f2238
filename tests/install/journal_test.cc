// The run journal's records and their reader, on journals written to the
// real file system.
#include <fcntl.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "install/journal_reader.h"
#include "platform/text_encoding.h"
#include "tests/support/child_process.h"
#include "tests/support/file_io.h"
#include "tests/support/temp_dir.h"

using namespace test_support;

namespace {

JournalRecord rec(JournalKind kind, const std::string& name, uint64_t base = 0) {
  JournalRecord r;
  r.kind = kind;
  r.name = name;
  r.hasIdentities = true;
  r.folder = {base + 1, base + 2};
  r.placed = {base + 3, UINT64_MAX, base, -1234567, 999999999};
  r.original = {7, base + 8, 9, INT64_MIN, 0};
  return r;
}

std::string V3() { return journal_version_record(); }
std::string E(const JournalRecord& r) { return encode_journal_record(r); }
std::string E(JournalKind kind, const std::string& name) { return E(rec(kind, name)); }
// A version 3 record of any payload, well framed.
std::string F(char kind, const std::string& payload) {
  const std::string n = std::to_string(payload.size());
  return kind + n + ":" + payload + ";" + n + "\n";
}
// The bytes a record read came from: version 2 records have no identities.
std::string encoded(const JournalRecord& r) {
  if (r.hasIdentities) return E(r);
  return static_cast<char>(r.kind) + std::to_string(r.name.size()) + ":" + r.name + "\n";
}

// Writes `bytes` as a journal, scans it and walks it both ways.
struct Walk {
  Status status;
  JournalScan scan;
  std::vector<std::string> forward, backward;  // each record as encoded()
};

Walk walk(const std::string& bytes) {
  static TempDir dir;
  // A new file each time: ext4 writes a file truncated and written again
  // back at its close, which costs a thousand prefixes seconds.
  std::remove((dir / "journal").c_str());
  write_file(dir / "journal", bytes);
  File file;
  Walk w;
  w.status = File::open(widen_lib(dir / "journal"), O_RDONLY, 0, file);
  if (!w.status.ok()) return w;
  JournalReader reader(file);
  w.status = reader.scan(w.scan);
  for (JournalRecord r; reader.next(r);) w.forward.push_back(encoded(r));
  for (JournalRecord r; reader.previous(r);) w.backward.push_back(encoded(r));
  EXPECT_TRUE(reader.error().ok() || !w.status.ok()) << narrow_lib(reader.error().note);
  return w;
}

TEST(JournalFormatTest, EncodingIsPinned) {
  EXPECT_EQ("V1:3;1\n", V3());
  EXPECT_EQ("S0:;0\n", E(JournalKind::kCommitted, ""));
  EXPECT_EQ("D27:1 2 3 18446744073709551615 ;27\n", E(JournalKind::kCreatedDir, ""));
  EXPECT_EQ("B36:1 2 7 8 9 -9223372036854775808 0 a b;36\n", E(JournalKind::kBackedUp, "a b"));
}

// Every prefix of a valid journal is what a crash while appending leaves:
// its whole records, both ways, and a cut-short tail; the whole journal is
// the round trip of its records.
TEST(JournalFormatTest, EveryPrefixOfAValidJournalGivesItsWholeRecordsBothWays) {
  using K = JournalKind;
  const std::vector<std::vector<std::string>> journals = {
      {V3(), E(rec(K::kCreatedDir, "")), E(rec(K::kCreatedDir, "sub dir", 10)),
       E(rec(K::kAddedFile, "sub dir/a;1\n:x", 20)), E(rec(K::kReplacedFile, "\xff\xfe/\x01 ", 30)),
       E(rec(K::kBackedUp, "b", 40)), E(rec(K::kFolderToRemove, std::string(4096, 'f'), 50)),
       E(rec(K::kCommitted, ""))},
      {V3(), E(rec(K::kAddedFile, "a", 1)), E(rec(K::kReplacedFile, "r", 2))},
      // As the previous release wrote it.
      {"V1:2\n", "D0:\n", "D5:forms\n", "A15:forms/order.frm\n", "F3:old\n", "S0:\n"}};
  for (const auto& records : journals) {
    std::string bytes;
    std::vector<size_t> ends;
    for (const std::string& r : records) ends.push_back((bytes += r).size());
    const bool v3 = records[0] == V3();
    for (size_t length = 0; length <= bytes.size(); ++length) {
      SCOPED_TRACE(bytes.substr(0, length).substr(0, 80));
      const Walk w = walk(bytes.substr(0, length));
      ASSERT_TRUE(w.status.ok()) << narrow_lib(describe_status(w.status));
      size_t whole = 0;
      while (whole < ends.size() && ends[whole] <= length) ++whole;
      EXPECT_EQ(whole, w.scan.records);
      EXPECT_EQ(whole == 0 ? 0 : ends[whole - 1], w.scan.validEnd);
      EXPECT_EQ(length != w.scan.validEnd, w.scan.cutShort);
      EXPECT_EQ(whole == 0 ? JournalScan::Format::kNone
                : v3       ? JournalScan::Format::kVersion3
                           : JournalScan::Format::kVersion2,
                w.scan.format);
      EXPECT_EQ(whole == records.size() && records.back()[0] == 'S', w.scan.committed);
      const std::vector<std::string> given(records.begin() + (whole > 0), records.begin() + whole);
      EXPECT_EQ(given, w.forward);
      const std::vector<std::string> reversed(given.rbegin(), given.rend());
      EXPECT_EQ(v3 ? reversed : std::vector<std::string>(), w.backward);
      // A crash can also leave the rest of an append as zero bytes.
      const Walk torn = walk(bytes.substr(0, length) + std::string(100, '\0'));
      ASSERT_TRUE(torn.status.ok()) << narrow_lib(describe_status(torn.status));
      EXPECT_TRUE(torn.scan.cutShort);
      EXPECT_EQ(given, torn.forward);
    }
  }
}

TEST(JournalFormatTest, EveryDefectButACutShortTailIsRefusedWithItsRecordAndReason) {
  const std::string nul("a\0b", 3), dir = E(JournalKind::kCreatedDir, "a");
  const struct {
    std::string bytes, reason, where = "record 2 at byte 7:";
  } cases[] = {
      {V3() + E(JournalKind::kAddedFile, nul), "NUL"},
      {V3() + E(JournalKind::kAddedFile, "a/../b"), "\"..\" component"},
      {V3() + E(JournalKind::kAddedFile, "a/./b"), "\".\" component"},
      {V3() + E(JournalKind::kAddedFile, "a//b"), "empty component"},
      {V3() + E(JournalKind::kFolderToRemove, "a/"), "empty component"},
      {V3() + E(JournalKind::kBackedUp, "/etc/passwd"), "absolute"},
      {V3() + E(JournalKind::kAddedFile, ".qxr8\\run/journal"), "backslash"},
      // The one backslash allowed is that of a folder of kit records.
      {V3() + E(JournalKind::kAddedFile, ".qxr8\\kits-0/a\\b"), "backslash"},
      {V3() + E(JournalKind::kAddedFile, ".qxr8\\kits-007/a"), "backslash"},
      {V3() + E(JournalKind::kAddedFile, "a/.qxr8\\kits-0/a"), "backslash"},
      {V3() + E(JournalKind::kAddedFile, ""), "empty name"},
      {V3() + E(JournalKind::kAddedFile, std::string(4097, 'n')), "longer than 4096"},
      {V3() + "X0:;0\n", "unknown record kind"},
      {V3() + V3(), "version record after the first"},
      {"#!/bin/sh\n", "not a journal", "record 1 at byte 0:"},
      {V3() + std::string(20, '\0') + "A", "unknown record kind"},
      {"V1:4;1\n", "not a version record of 2 or 3", "record 1 at byte 0:"},
      {"V1:2\nR1:a\n", "version 2 does not have", "record 2 at byte 5:"},
      {V3() + "S01:", "leading zero"},
      {V3() + "S10000", "more digits"},
      {V3() + "S8193", "above the largest"},
      {V3() + "S:", "without its length"},
      {V3() + "S0;", "not followed by ':'"},
      {V3() + "S0:\n", "not followed by ';'"},
      {V3() + "S0:;1\n", "unlike the one at its start"},
      {V3() + "S0:;00", "unlike the one at its start"},
      {V3() + "S0:;x", "not a digit"},
      {V3() + "S0:;0;", "does not end with a newline"},
      {"V1:2\nA1:ab", "does not end with a newline", "record 2 at byte 5:"},
      {V3() + "S1:x;1\n", "commit record with a payload"},
      {V3() + F('D', "1 2 3 04 "), "canonical decimal"},
      {V3() + F('D', "1 2 3 -4 "), "canonical decimal"},
      {V3() + F('D', "1 2 3 18446744073709551616 "), "canonical decimal"},
      {V3() + F('A', "1 2 3 4 5 -0 0 a"), "canonical decimal"},
      {V3() + F('A', "1 2 3 4 5 6 1000000000 a"), "canonical decimal"},
      {V3() + F('D', "1 2 3 4"), "canonical decimal"},
      {V3() + F('D', "1  2 3 4 a"), "canonical decimal"},
      {V3() + dir + F('A', "a b"), "canonical",
       "record 3 at byte " + std::to_string(7 + dir.size())},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes.substr(0, 60));
    const Walk w = walk(c.bytes);
    EXPECT_EQ(kErrorInvalidData, w.status.code);
    const std::string note = narrow_lib(w.status.note);
    EXPECT_NE(std::string::npos, note.find(c.reason)) << note;
    EXPECT_NE(std::string::npos, note.find(c.where)) << note;
    EXPECT_NE(std::string::npos, narrow_lib(w.status.path).find("/journal"));
    EXPECT_TRUE(w.forward.empty() && w.backward.empty());
  }
}

TEST(JournalFormatTest, MillionsOfRecordsAreReadBothWaysInBoundedMemory) {
  TempDir dir;
  const std::string record = E(rec(JournalKind::kAddedFile, "f"));
  std::string block;
  while (block.size() < (1u << 20)) block += record;
  const uint64_t blocks = 48, records = 1 + blocks * (block.size() / record.size());
  FILE* out = std::fopen((dir / "journal").c_str(), "wb");
  ASSERT_NE(nullptr, out);
  std::fputs(V3().c_str(), out);
  for (uint64_t i = 0; i < blocks; ++i) std::fwrite(block.data(), 1, block.size(), out);
  ASSERT_EQ(0, std::fclose(out));

  const ChildResult child = run_function([&] {
    File file;
    if (!File::open(widen_lib(dir / "journal"), O_RDONLY, 0, file).ok()) return 1;
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    JournalReader reader(file);
    JournalScan scan;
    if (!reader.scan(scan).ok() || scan.records != records) return 2;
    uint64_t forward = 0, backward = 0;
    for (JournalRecord r; reader.next(r);) forward += r.name == "f";
    for (JournalRecord r; reader.previous(r);) backward += r.name == "f";
    if (forward != records - 1 || backward != records - 1) return 3;
    getrusage(RUSAGE_SELF, &after);
    std::printf("%ld", after.ru_maxrss - before.ru_maxrss);
    return std::fflush(stdout);  // the child ends with _exit
  });
  ASSERT_EQ(0, child.status) << child.err;
  // Against a file of 48 MiB: reading it whole, or keeping its records,
  // costs ten times the bound. The walk allocates nothing per record, so
  // AddressSanitizer's shadow and quarantine add little (under 1 MiB).
  EXPECT_LT(std::stol(child.out), 4096) << "KiB of peak memory gained by the walk";
}

}  // namespace
