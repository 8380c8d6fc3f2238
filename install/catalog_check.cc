#include "install/catalog_check.h"

#include <fcntl.h>

#include "install/catalog_walk.h"
#include "install/entry_comparison.h"
#include "install/install_plan.h"
#include "platform/directory.h"
#include "platform/file.h"

namespace {

// Whether the file at `name` below `catalog` holds exactly the bytes of
// entry `index`. `same` gets the answer; a failure is a file that cannot
// be read.
Status same_bytes(const KitReader& kit, unsigned long index, const Directory& catalog,
                  const wstring& name, EntryComparison& comparison, bool& same) {
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
  return comparison.compare(kit, index, file, same);
}

}  // namespace

Status check_catalog(const KitReader& kit, const wstring& catalog, CatalogCheck& check) {
  check = CatalogCheck();
  if (!kit.isComplete()) return error_status(kErrorInvalidParameter, kit.kitPath());
  InstallPlan plan;
  Status failure;
  Directory opened;
  plan_install(kit, catalog, plan, failure, &opened);
  EntryComparison comparison;
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    const PlannedEntry& planned = plan.entries[i];
    if (planned.action == EntryAction::kRefuse) break;
    // Each entry against what the catalog holds, not against what an
    // earlier entry of the same file would have put there.
    const ExistingCopy& onDisk = planned.onDisk;
    const config::KitEntry& entry = kit.entries[i];
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
      const Status read = same_bytes(kit, i, opened, planned.name, comparison, same);
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
