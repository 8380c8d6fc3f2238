// The records of a run's journal (run_journal.h) as bytes: their kinds,
// what each holds, the encoding of format version 3 and the parse of one
// record of version 2 or 3. The journal lives in a catalog other users may
// write to, so its bytes are untrusted: the parse bounds every length
// before it uses it and refuses any name that could lead out of the
// catalog or into the run's state folder. Pure functions over memory; any
// thread.
//
// Version 3 record: a kind byte, the payload's length in canonical decimal
// (no leading zero, "0" when empty), ":", the payload, ";", the same
// length again and "\n". The length at the end lets a reader find the
// start of a record from its end, so a rollback can undo the records
// newest first without holding them. The payload is the record's decimal
// fields separated by single spaces, then one space and the name's bytes
// (see encode_journal_record); "3" for the version record, nothing for
// the commit.
//
// Version 2 (what the previous release wrote; read only): a kind byte,
// the length, ":", the name alone and "\n"; no identities, no R or B.
#ifndef QXR8_INSTALL_JOURNAL_FORMAT_H_
#define QXR8_INSTALL_JOURNAL_FORMAT_H_

#include <cstddef>
#include <string>

#include "platform/file.h"

enum class JournalKind : char {
  kVersion = 'V',         // the format's version (first record)
  kCreatedDir = 'D',      // a directory the run made ("" is the catalog itself)
  kAddedFile = 'A',       // a file about to be placed where nothing stood
  kReplacedFile = 'R',    // a file placed over one first moved into the backup tree
  kBackedUp = 'B',        // a file moved into the backup tree, nothing placed (a removal)
  kFolderToRemove = 'F',  // a folder to remove once committed, if it is empty then
  kCommitted = 'S',       // the run succeeded: only its state is left to remove
};

// One record. `name` is the path below the catalog in the system's bytes,
// "/" between components. What the identities hold depends on the kind:
//   D: folder = where the directory was made; placed.device/inode = the
//      directory itself.
//   A: folder; placed = the file placed (all five fields).
//   R: folder; placed; original = the file moved into the backup tree.
//   B: folder; original.
//   F: folder; placed.device/inode = the folder to remove.
//   S, V: nothing (V's version is the parse's `version`).
// Fields a kind does not use are zero. hasIdentities is false for the
// records of a version 2 journal, which knew no identities.
struct JournalRecord {
  JournalKind kind = JournalKind::kCommitted;
  std::string name;
  FolderIdentity folder;
  FileIdentity placed;
  FileIdentity original;
  bool hasIdentities = false;
};

// The longest name a record may carry, and the longest payload (the name
// and the most fields, R's twelve, with room to spare).
inline constexpr size_t kJournalNameMax = 4096;
inline constexpr size_t kJournalPayloadMax = 8192;
// The longest whole record of either version: kind, length, ":", payload,
// ";", length, "\n". A reader holding this many bytes from a record's
// start holds the whole record or knows it is defective.
inline constexpr size_t kJournalRecordMax = 1 + 4 + 1 + kJournalPayloadMax + 1 + 4 + 1;

// The version 3 bytes of `record` (for kVersion, journal_version_record()).
// The caller makes sure the name is safe (journal_name_is_safe) and the
// identities are what the system gives (nanoseconds 0..999999999): the
// encoding checks neither, and the reader refuses a record that breaks them.
std::string encode_journal_record(const JournalRecord& record);

// The first record of a version 3 journal: "V1:3;1\n".
std::string journal_version_record();

// Why `name` may not stand in a record of `kind`, or nullptr when it may:
// a name never leaves the catalog nor reaches the state folder, so it is
// not absolute, has no empty, "." or ".." component (no "//", no final
// "/"), holds no backslash (the state folder's name holds one) but in a
// first component that names a folder of kit records (record_folder.h),
// no NUL
// byte, is at most kJournalNameMax bytes, and is empty only for D (the
// catalog itself). The reason is a static English phrase.
const char* journal_name_defect(const std::string& name, JournalKind kind);

// journal_name_defect(name, kind) == nullptr.
bool journal_name_is_safe(const std::string& name, JournalKind kind);

// What parse_journal_record found at the start of the bytes given.
struct JournalParse {
  enum class Outcome {
    kRecord,    // a whole valid record of `size` bytes
    kCutShort,  // the bytes end inside a record that is valid so far
    kInvalid,   // a defect; `reason` says which
  };
  Outcome outcome = Outcome::kInvalid;
  size_t size = 0;
  const char* reason = nullptr;  // static English phrase, for kInvalid
};

// Parses the record at the start of `data` (`size` bytes; a caller that
// holds more of the journal gives at least kJournalRecordMax of them, so
// that kCutShort means the journal itself ends there). `version` is the
// journal's format, 2 or 3, or 0 for its first record, which must be a
// version record of 2 or 3: then, on kRecord, `version` becomes that
// number. A defect of the framing (kind, lengths, separators) is reported
// as soon as the bytes show it, even in a record cut short; the payload's
// fields and name are judged once the record is whole, since a crash can
// leave any prefix of them. `out` is filled on kRecord, and holds nothing
// of use otherwise; it reuses its name's storage, so a reader that passes
// the same record each time allocates once.
JournalParse parse_journal_record(const char* data, size_t size, int& version,
                                  JournalRecord& out);

#endif  // QXR8_INSTALL_JOURNAL_FORMAT_H_
