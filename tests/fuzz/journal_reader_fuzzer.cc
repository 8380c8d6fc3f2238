// Fuzzes the run journal's reader (install/journal_reader.h).
//
// Input: the first byte chooses the form of the rest. Even: the rest is the
// journal file itself. Odd: the rest up to its first newline (a version
// record) is followed by what comes after it, repeated until the file
// holds more than three buffers' worth, so that records straddle the
// reader's buffer reloads in both directions.
//
// Besides crashes, the target aborts when the reader breaks its promises:
// a scan that succeeds but whose records next() does not give exactly, in
// the file's order and bytes (each record encoded again must be the bytes
// it came from, so only canonical records pass), or whose records
// previous() does not give in reverse for version 3; a name unsafe for its
// kind; a cut-short tail or a failure that the scan misreports (the tail
// parsed alone must be cut short, or be written bytes of at most one record
// followed by zeros to the end); a descriptor leaked.
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "install/journal_reader.h"
#include "platform/text_encoding.h"

namespace {

std::string g_root;  // private directory of this process
std::string g_journal;
bool g_fdsSettled = false;  // a first run has opened whatever stays open for good

void remove_root() {
  std::error_code ignored;
  if (!g_root.empty()) std::filesystem::remove_all(g_root, ignored);
}

int open_fds() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int count = 0;
  while (dirent* item = readdir(dir)) {
    if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0) ++count;
  }
  closedir(dir);
  return count - 1;  // the listing's own descriptor
}

void fail(const char* what) {
  std::fprintf(stderr, "journal_reader_fuzzer: %s\n", what);
  std::abort();
}

// The bytes `record` came from in a journal of `format`.
std::string encoded(const JournalRecord& record, JournalScan::Format format) {
  if (format == JournalScan::Format::kVersion3) return encode_journal_record(record);
  return static_cast<char>(record.kind) + std::to_string(record.name.size()) + ":" +
         record.name + "\n";
}

void check_record(const JournalRecord& record, JournalScan::Format format) {
  if (record.kind == JournalKind::kVersion) fail("a version record given as a record");
  // A commit carries no name; every other record's must be safe.
  if (record.kind == JournalKind::kCommitted ? !record.name.empty()
                                             : !journal_name_is_safe(record.name, record.kind)) {
    fail("unsafe name given");
  }
  if (record.hasIdentities != (format == JournalScan::Format::kVersion3)) {
    fail("identities claimed against the format");
  }
}

void check_journal(const std::string& bytes) {
  File file;
  if (!File::open(widen_lib(g_journal), O_RDONLY, 0, file).ok()) fail("cannot open the journal");
  JournalReader reader(file);
  JournalScan scan;
  const Status status = reader.scan(scan);
  JournalRecord record;
  if (!status.ok()) {
    if (status.code != kErrorInvalidData || status.note.empty() || status.path != file.path()) {
      fail("a failed scan without 13, its note or its path");
    }
    if (reader.next(record) || reader.previous(record)) fail("records given after a failed scan");
    return;
  }
  if (scan.validEnd > bytes.size() || scan.cutShort != (scan.validEnd < bytes.size())) {
    fail("the valid end and the cut-short tail disagree with the file");
  }
  if ((scan.format == JournalScan::Format::kNone) != (scan.records == 0)) {
    fail("records without a format, or a format without records");
  }
  // What follows the valid records, parsed alone, must be a record the end
  // of the file cut short: a reader stopping early at its buffer's end
  // would pass every other check.
  int version = scan.format == JournalScan::Format::kNone       ? 0
                : scan.format == JournalScan::Format::kVersion2 ? 2
                                                                : 3;
  // Or what a crash leaves on some file systems: written bytes of at most
  // one record, then zero bytes to the end.
  const size_t lastWritten = bytes.find_last_not_of('\0');
  const bool torn = !bytes.empty() && bytes.back() == '\0' &&
                    (lastWritten == std::string::npos || lastWritten < scan.validEnd ||
                     lastWritten - scan.validEnd < kJournalRecordMax);
  if (scan.cutShort && !torn &&
      parse_journal_record(bytes.data() + scan.validEnd, bytes.size() - scan.validEnd, version,
                           record)
              .outcome != JournalParse::Outcome::kCutShort) {
    fail("a tail taken for cut short that is not");
  }
  if (scan.records == 0) {
    if (scan.validEnd != 0 || reader.next(record) || reader.previous(record)) {
      fail("records given of a journal without any");
    }
    return;
  }
  const size_t first = scan.format == JournalScan::Format::kVersion3 ? 7 : 5;
  uint64_t position = first;
  uint64_t count = 1;
  bool committed = false;
  for (; reader.next(record); ++count) {
    check_record(record, scan.format);
    const std::string again = encoded(record, scan.format);
    if (bytes.compare(position, again.size(), again) != 0) fail("next gave another record");
    position += again.size();
    committed = committed || record.kind == JournalKind::kCommitted;
  }
  if (!reader.error().ok()) fail("next failed after a successful scan");
  if (count != scan.records || position != scan.validEnd) fail("next gave another count");
  if (committed != scan.committed) fail("the commit misreported");
  if (scan.format == JournalScan::Format::kVersion2) {
    if (reader.previous(record)) fail("previous gave a record of version 2");
    return;
  }
  for (count = 1; reader.previous(record); ++count) {
    check_record(record, scan.format);
    const std::string again = encoded(record, scan.format);
    if (again.size() > position - first ||
        bytes.compare(position - again.size(), again.size(), again) != 0) {
      fail("previous gave another record");
    }
    position -= again.size();
  }
  if (!reader.error().ok()) fail("previous failed after a successful scan");
  if (count != scan.records || position != first) fail("previous gave another count");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string pattern = "/tmp/qxr8-journal-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) fail("cannot make a private directory");
  g_root = pattern;
  g_journal = g_root + "/journal";
  std::atexit(remove_root);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  if (!bytes.empty()) {
    const bool repeat = (bytes[0] & 1) != 0;
    bytes.erase(0, 1);
    const size_t head = bytes.find('\n');
    if (repeat && head != std::string::npos && head + 1 < bytes.size()) {
      const std::string body = bytes.substr(head + 1);
      while (bytes.size() < 200 * 1024) bytes += body;
    }
  }
  FILE* out = std::fopen(g_journal.c_str(), "wb");
  if (out == nullptr) fail("cannot write the journal");
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) {
    fail("short write");
  }
  std::fclose(out);

  // Counted around this run alone: the fuzzer opens descriptors of its own
  // between runs (its symbolizer's pipes when it reports new functions).
  const int fdsBefore = open_fds();
  check_journal(bytes);
  if (g_fdsSettled && open_fds() != fdsBefore) fail("descriptor leaked");
  g_fdsSettled = true;
  return 0;
}
