#include "install/entry_decision.h"

#include <cerrno>
#include <string>

#include "install/catalog_walk.h"
#include "platform/system_path.h"

namespace {

uint64_t file_time_value(const _FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// What a link at the destination amounts to; `link` is the link itself.
Status probe_link(const Directory& directory, const wstring& leaf, const FileInfo& link,
                  ExistingCopy& out) {
  FileInfo target;
  const Status followed = directory.info(leaf, FollowLinks::kYes, target);
  if (!followed.ok() && followed.systemError != ENOENT) {
    Status refusal = followed;
    refusal.code = kErrorAlreadyExists;
    return refusal;
  }
  if (target.kind != PathKind::kMissing && target.kind != PathKind::kRegular) {
    return error_status(kErrorAlreadyExists, directory.pathOf(leaf));
  }
  out.kind = ExistingCopy::Kind::kUncomparable;
  // A link is read through only when its owner is trusted.
  if (target.kind == PathKind::kRegular && link_owner_trusted(link.owner)) {
    out.kind = ExistingCopy::Kind::kFile;
    out.size = target.size;
    out.modified = target.modified;
  }
  return Status();
}

}  // namespace

wstring normalised_kit_name(const wstring& name) {
  wstring out;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && name[end] != kPathSeparatorChar &&
           name[end] != kBadPathSeparatorChar) {
      ++end;
    }
    const wstring component = name.substr(start, end - start);
    if (!component.empty() && component != u".") {
      if (!out.empty()) out += kPathSeparator;
      out += component;
    }
    start = end + 1;
  }
  return out;
}

EntryAction decide_entry(const ExistingCopy& existing, const _FILETIME& kitTime, uint64_t kitSize) {
  switch (existing.kind) {
    case ExistingCopy::Kind::kNone: return EntryAction::kWriteNew;
    case ExistingCopy::Kind::kUncomparable: return EntryAction::kReplace;
    case ExistingCopy::Kind::kFile: break;
  }
  if (copy_is_older(existing, kitTime)) return EntryAction::kReplace;
  const bool placedTime = existing.modified == FileTimeToEpoch(kitTime);
  return placedTime && existing.size != kitSize ? EntryAction::kReplace : EntryAction::kKeep;
}

bool copy_is_older(const ExistingCopy& existing, const _FILETIME& kitTime) {
  if (existing.kind != ExistingCopy::Kind::kFile) return false;
  const _FILETIME installed = EpochToFileTime(static_cast<long>(existing.modified));
  return file_time_value(installed) < file_time_value(kitTime);
}

Status probe_destination(const Directory& catalog, const wstring& name, ExistingCopy& out,
                         FileInfo& parent, FolderCache* cache) {
  out = ExistingCopy();
  parent = FileInfo();
  const wstring destination = catalog.pathOf(name);
  // A name the system cannot take exactly is refused, never replaced: a
  // look-alike name could be another entry's file.
  std::string systemName;
  if (name.empty() || !to_system_path(destination, systemName)) {
    return error_status(kErrorInvalidName, destination);
  }
  const size_t slash = name.rfind(kPathSeparatorChar);
  const wstring relativeDir = slash == wstring::npos ? wstring() : name.substr(0, slash);
  const wstring leaf = slash == wstring::npos ? name : name.substr(slash + 1);

  FolderCache own;
  FolderCache& folder = cache != nullptr ? *cache : own;
  if (!folder.valid || folder.relative != relativeDir) {
    folder.valid = true;
    folder.relative = relativeDir;
    folder.directory = std::make_shared<Directory>();
    folder.identity = FileInfo();
    const bool below = !folder.missing.empty() &&
                       relativeDir.compare(0, folder.missing.size(), folder.missing) == 0 &&
                       (relativeDir.size() == folder.missing.size() ||
                        relativeDir[folder.missing.size()] == kPathSeparatorChar);
    if (below) {
      folder.walked = error_status(kErrorFileNotFound, catalog.pathOf(folder.missing));
    } else {
      folder.walked = open_catalog_directory(catalog, relativeDir, false, {}, *folder.directory);
      if (folder.walked.ok()) folder.directory->info(folder.identity);
      const wstring& base = catalog.path();
      if (folder.walked.code == kErrorFileNotFound &&
          folder.walked.path.compare(0, base.size(), base) == 0) {
        folder.missing = folder.walked.path.substr(base.size());
      }
    }
  }
  // A missing level is made when the entry is written.
  if (folder.walked.code == kErrorFileNotFound) return Status();
  if (!folder.walked.ok()) return folder.walked;
  const Directory& directory = *folder.directory;
  parent = folder.identity;

  FileInfo here;
  const Status looked = directory.info(leaf, FollowLinks::kNo, here);
  if (!looked.ok()) return looked;
  switch (here.kind) {
    case PathKind::kMissing: return Status();
    case PathKind::kRegular:
      out.kind = ExistingCopy::Kind::kFile;
      out.size = here.size;
      out.modified = here.modified;
      out.backupBytes = here.size;
      return Status();
    case PathKind::kSymlink: return probe_link(directory, leaf, here, out);
    default: return error_status(kErrorAlreadyExists, destination);
  }
}
