// Where a catalog keeps its records of installed kits (kit_record.h): one
// hidden folder per user who installed into it, ".qxr8\kits-UID", made by
// that user's first run (mode 0755) and holding one record a kit (0644).
// Everyone who uses the catalog reads them all; only their owner writes,
// replaces or removes them, so a shared catalog keeps each user's records
// apart and nobody can plant a record in another's name. Like the run's
// state folder (run_state.h), no kit entry can reach these names: a
// backslash in a kit name is a separator.
//
// The folders and records are untrusted input: a folder is trusted only
// when it is a real folder (never a link) owned by the user its name gives
// and writable by nobody else; a record only when it is a regular file of
// that user, writable by nobody else, of a bounded size, that parses. What
// is not trusted is passed over and named.
//
// The caller's thread; nothing is cached between calls.
#ifndef QXR8_INSTALL_RECORD_FOLDER_H_
#define QXR8_INSTALL_RECORD_FOLDER_H_

#include <string>
#include <vector>

#include "install/kit_record.h"
#include "platform/directory.h"
#include "platform/status.h"
#include "platform/wstring.h"

inline constexpr char kRecordFolderPrefix[] = ".qxr8\\kits-";
inline constexpr unsigned kRecordFolderMode = 0755;
inline constexpr unsigned kRecordFileMode = 0644;
// All the records of a catalog read at once stay below this many bytes;
// records past it are passed over and named.
inline constexpr uint64_t kMaxRecordsBytes = 4 * kMaxRecordBytes;

// ".qxr8\kits-UID".
std::string record_folder_name(unsigned uid);
// Whether `name` is a record folder's name, and whose (`uid`).
bool is_record_folder_name(const std::string& name, unsigned& uid);

// One record as found in a catalog.
struct FoundRecord {
  KitRecord record;
  unsigned owner = 0;
  std::string name;  // below the catalog: "FOLDER/FILE", system bytes
  FolderIdentity folder;
  FileIdentity identity;  // of the record file as it was read
};

struct CatalogRecords {
  std::vector<FoundRecord> records;  // by owner, then by file name
  // "PATH: why" for each folder or record passed over.
  std::vector<wstring> ignored;

  // The caller's own record of the kit named `name`; null when none.
  const FoundRecord* own(const std::string& name) const;
  // Any user's record of `name`, the caller's first; null when none.
  const FoundRecord* any(const std::string& name) const;
};

// Reads every record of `catalog` (open). Fails only when the catalog
// cannot be listed; every folder or record that cannot be trusted or read
// is named in `out.ignored` instead.
Status read_catalog_records(const Directory& catalog, CatalogRecords& out);

// The run's notes for what `records` passed over: "a kit record was
// passed over: PATH: why".
std::vector<wstring> ignored_record_notes(const CatalogRecords& records);

// Opens the caller's record folder in `catalog`, making it
// (kRecordFolderMode) when it is missing and `create` is set (`made` says
// so; not yet durable: the caller syncs the catalog). Fails with 2 when it
// is missing and not to be made; with 5, naming it, when what stands there
// is not the caller's own folder writable by nobody else (a link, a file,
// another user's).
Status open_own_record_folder(const Directory& catalog, bool create, Directory& out,
                              bool& made);

#endif  // QXR8_INSTALL_RECORD_FOLDER_H_
