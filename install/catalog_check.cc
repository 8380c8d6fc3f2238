#include "install/catalog_check.h"

#include <fcntl.h>

#include <cstring>
#include <memory>

#include "install/catalog_walk.h"
#include "install/install_plan.h"
#include "platform/directory.h"
#include "platform/file.h"

namespace {

// Bytes compared at a time, from each side.
constexpr size_t kCompareChunk = 65536;

// Whether the file at `name` below `catalog` holds exactly the bytes of
// entry `index`. `same` gets the answer; a failure is a file that cannot
// be read.
Status same_bytes(const KitReader& kit, unsigned long index, const Directory& catalog,
                  const wstring& name, uint8_t* kitBytes, uint8_t* fileBytes, bool& same) {
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
  const uint64_t size = kit.entries[index].size;
  for (uint64_t position = 0;;) {
    size_t fromKit = 0;
    const unsigned code = kit.readEntry(index, position, kitBytes, kCompareChunk, fromKit);
    const bool last = position + fromKit >= size;
    // A kit that ends inside the entry cannot be opened; this only keeps
    // the loop finite should it happen.
    if (code != kErrorSuccess || (fromKit == 0 && !last)) {
      return error_status(code != kErrorSuccess ? code : kErrorInvalidData, kit.kitPath());
    }
    // One byte more than the kit has at the end: a file that grew since it
    // was looked at is not the kit's.
    size_t fromFile = 0;
    status = file.readAt(position, fileBytes, fromKit + (last ? 1 : 0), fromFile);
    if (!status.ok()) return status;
    if (fromFile != fromKit || std::memcmp(kitBytes, fileBytes, fromKit) != 0) return Status();
    if (last) break;
    position += fromKit;
  }
  same = true;
  return Status();
}

}  // namespace

Status check_catalog(const KitReader& kit, const wstring& catalog, CatalogCheck& check) {
  check = CatalogCheck();
  if (!kit.isComplete()) return error_status(kErrorInvalidParameter, kit.kitPath());
  InstallPlan plan;
  Status failure;
  Directory opened;
  plan_install(kit, catalog, plan, failure, &opened);
  // The buffers exist only for a catalog that holds something to compare.
  std::unique_ptr<uint8_t[]> kitBytes;
  std::unique_ptr<uint8_t[]> fileBytes;
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
      if (!kitBytes) {
        kitBytes.reset(new uint8_t[kCompareChunk + 1]);
        fileBytes.reset(new uint8_t[kCompareChunk + 1]);
      }
      bool same = false;
      const Status read =
          same_bytes(kit, i, opened, planned.name, kitBytes.get(), fileBytes.get(), same);
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
