// The record a catalog keeps of one installed kit: which kit it was (its
// product records, its file's name and hash, its signer), when it was
// installed, and every file it placed or found up to date with the size,
// time and hash of the kit's bytes for it, so that a file the user has
// since changed never matches. Removal, checks and updates read it instead
// of the kit file.
//
// The form is readable text, one item a line, fields separated by tabs;
// a byte that is a tab, a line's end, a backslash or another control
// character is written as \xNN, so every field is one line of printable
// bytes. Names are the catalog's own bytes (the system's form of the kit's
// names), so a record names exactly the files on disk.
//
// A record is untrusted input (it lies in a catalog others may write to):
// the parser accepts only the exact form below, bounds what a record can
// cost (kMaxRecordBytes in all), refuses names that would leave the
// catalog, and never half-fills its result. Pure functions; any thread.
//
//   qxr8 kit record 1
//   name <TAB> NAME
//   product <TAB> LANGUAGE <TAB> PRODUCT <TAB> VENDOR <TAB> DESCRIPTION   (one per record)
//   kit <TAB> FILE NAME <TAB> BLAKE2b-512 of the kit file, hex
//   signer <TAB> KEY ID, hex as minisign prints it <TAB> TRUSTED COMMENT  (signed kits only)
//   installed <TAB> SECONDS since 1970 UTC
//   file <TAB> SIZE <TAB> TIME (100 ns since 1601) <TAB> BLAKE2b-256, hex <TAB> NAME
//   end <TAB> NUMBER OF FILES
#ifndef QXR8_INSTALL_KIT_RECORD_H_
#define QXR8_INSTALL_KIT_RECORD_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "install/entry_hashes.h"
#include "install/kit_table.h"
#include "platform/status.h"
#include "platform/wstring.h"

// A record larger than this is refused before it is read: a kit's table
// of files cannot need more.
inline constexpr uint64_t kMaxRecordBytes = 64u << 20;

struct RecordedFile {
  std::string name;  // below the catalog, "/" between folders, system bytes
  uint64_t size = 0;
  uint64_t time = 0;  // the kit's time stamp, 100 ns units since 1601
  FileHash hash{};
};

struct KitRecord {
  std::string name;  // the kit's name (UTF-8): kit_name_of its records
  std::vector<config::KitProductInfo> products;
  std::string kitFile;  // the kit file's name, without its folder
  std::array<uint8_t, 64> kitHash{};
  bool isSigned = false;
  uint64_t keyId = 0;          // signed kits
  std::string trustedComment;  // signed kits, as verified
  int64_t installedAt = 0;     // seconds since 1970 UTC
  std::vector<RecordedFile> files;
};

// The name a kit goes by in a catalog: the product of its English record,
// or of its first record when it has none ("" without records), as UTF-8.
std::string kit_name_of(const std::vector<config::KitProductInfo>& products);

// The record's file name for a kit of `name`: its letters, digits, ".",
// "-" and "_" kept, every other byte as %XX, ".kit" appended; a long name
// is cut and keeps a hash of the whole, so distinct names stay distinct.
std::string record_file_name(const std::string& name);

// The text of `record`.
std::string format_kit_record(const KitRecord& record);

// Reads the text of a record file at `path` (for messages). Returns ok
// with `record` filled; or 13 naming `path` and, in the note, the line and
// what is wrong with it: a record larger than kMaxRecordBytes, a line that
// is not of the form above, a file name that would leave the catalog or
// names the catalog's own state, a count that does not match. `record` is
// left empty on failure.
Status parse_kit_record(const std::string& text, const wstring& path, KitRecord& record);

#endif  // QXR8_INSTALL_KIT_RECORD_H_
