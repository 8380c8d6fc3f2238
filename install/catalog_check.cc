#include "install/catalog_check.h"

#include <fcntl.h>

#include <functional>

#include "install/catalog_walk.h"
#include "install/entry_comparison.h"
#include "install/install_plan.h"
#include "platform/directory.h"
#include "platform/file.h"
#include "platform/system_path.h"

namespace {

// Whether an open file holds the bytes of entry `index`.
using SameBytes = std::function<Status(unsigned long index, const File& file, bool& same)>;

// Whether the file at `name` below `catalog` holds exactly the bytes of
// entry `index`. `same` gets the answer; a failure is a file that cannot
// be read.
Status same_bytes(const SameBytes& compare, unsigned long index, const Directory& catalog,
                  const wstring& name, bool& same) {
  same = false;
  const size_t slash = name.rfind(kPathSeparatorChar);
  const wstring relativeDir = slash == wstring::npos ? wstring() : name.substr(0, slash);
  const wstring leaf = slash == wstring::npos ? name : name.substr(slash + 1);
  Directory directory;
  Status status = open_catalog_directory(catalog, relativeDir, false, {}, directory);
  File file;
  FileInfo info;
  // Non-blocking: should a FIFO have taken the file's place since it was
  // looked at, the open returns at once and the kind check refuses it.
  if (status.ok()) status = directory.openFile(leaf, O_RDONLY | O_NONBLOCK, 0, file);
  if (status.ok()) status = file.info(info);
  if (!status.ok()) return status;
  if (info.kind != PathKind::kRegular) {
    return error_status(kErrorAlreadyExists, catalog.pathOf(name));
  }
  return compare(index, file, same);
}

// The check of `catalog` against `entries`, whose bytes `compare` knows.
Status check_entries(const std::vector<config::KitEntry>& entries, const wstring& catalog,
                     const SameBytes& compare, CatalogCheck& check) {
  InstallPlan plan;
  Status failure;
  Directory opened;
  plan_install_of(entries, catalog, plan, failure, &opened);
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    const PlannedEntry& planned = plan.entries[i];
    if (planned.action == EntryAction::kRefuse) break;
    // Each entry against what the catalog holds, not against what an
    // earlier entry of the same file would have put there.
    const ExistingCopy& onDisk = planned.onDisk;
    const config::KitEntry& entry = entries[i];
    CheckedEntry checked;
    checked.name = planned.name;
    if (onDisk.kind == ExistingCopy::Kind::kNone) {
      checked.difference = CatalogDifference::kMissing;
    } else if (onDisk.kind == ExistingCopy::Kind::kUncomparable) {
      checked.difference = CatalogDifference::kChanged;
    } else if (copy_is_older(onDisk, entry.lastWriteTime)) {
      checked.difference = CatalogDifference::kOlder;
    } else if (onDisk.size != entry.size) {
      checked.difference = CatalogDifference::kChanged;
    } else {
      bool same = false;
      const Status read = same_bytes(compare, i, opened, planned.name, same);
      if (!read.ok()) return read;
      checked.difference = same ? CatalogDifference::kNone : CatalogDifference::kChanged;
    }
    switch (checked.difference) {
      case CatalogDifference::kNone: ++check.asInKit; break;
      case CatalogDifference::kMissing: ++check.missing; break;
      case CatalogDifference::kOlder: ++check.older; break;
      case CatalogDifference::kChanged: ++check.changed; break;
    }
    check.entries.push_back(std::move(checked));
  }
  return failure;
}

}  // namespace

Status check_catalog(const KitReader& kit, const wstring& catalog, CatalogCheck& check) {
  check = CatalogCheck();
  if (!kit.isComplete()) return error_status(kErrorInvalidParameter, kit.kitPath());
  EntryComparison comparison;
  return check_entries(kit.entries, catalog,
                       [&](unsigned long index, const File& file, bool& same) {
                         return comparison.compare(kit, index, file, same);
                       },
                       check);
}

Status check_recorded(const KitRecord& record, const wstring& catalog, CatalogCheck& check) {
  check = CatalogCheck();
  std::vector<config::KitEntry> entries;
  for (const RecordedFile& file : record.files) {
    config::KitEntry entry{};
    entry.name = from_system_path(file.name);
    entry.lastWriteTime.dwLowDateTime = static_cast<uint32_t>(file.time);
    entry.lastWriteTime.dwHighDateTime = static_cast<uint32_t>(file.time >> 32);
    // A record's sizes are a kit's, below 4 GiB.
    entry.size = static_cast<uint32_t>(file.size);
    entries.push_back(std::move(entry));
  }
  return check_entries(entries, catalog,
                       [&](unsigned long index, const File& file, bool& same) {
                         FileHash hash{};
                         uint64_t size = 0;
                         const Status status = hash_file(file, hash, size);
                         same = status.ok() && size == record.files[index].size &&
                                hash == record.files[index].hash;
                         return status;
                       },
                       check);
}
