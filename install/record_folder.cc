#include "install/record_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/system_path.h"
#include "platform/text_encoding.h"

namespace {

// Writable by nobody but the owner.
bool owner_only_writes(const FileInfo& info) { return (info.mode & 022) == 0; }

wstring passed_over(const wstring& path, const char16_t* why) { return path + u": " + why; }

// The records of one trusted folder, in file name order.
void read_folder(const Directory& folder, unsigned owner, const std::string& folderName,
                 uint64_t& budget, CatalogRecords& out) {
  std::vector<DirectoryEntry> entries;
  if (!folder.list(entries).ok()) {
    out.ignored.push_back(passed_over(folder.path(), u"cannot be read"));
    return;
  }
  std::vector<std::string> names;
  for (const DirectoryEntry& entry : entries) {
    std::string name;
    if (to_system_path(entry.name, name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  FileInfo folderInfo;
  folder.info(folderInfo);
  for (const std::string& name : names) {
    const SystemName leaf{name};
    const wstring path = folder.pathOf(leaf);
    FileInfo info;
    File file;
    // Never through a link, never blocked by a FIFO.
    Status status = folder.openFile(leaf, O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0, file);
    if (status.ok()) status = file.info(info);
    if (!status.ok()) {
      out.ignored.push_back(passed_over(path, u"not a file that can be read"));
      continue;
    }
    if (info.kind != PathKind::kRegular || info.owner != owner || !owner_only_writes(info)) {
      out.ignored.push_back(
          passed_over(path, u"not a file of the folder's owner that only its owner may write"));
      continue;
    }
    if (info.size > kMaxRecordBytes || info.size > budget) {
      out.ignored.push_back(passed_over(path, u"larger than the records of a catalog may be"));
      continue;
    }
    std::string text;
    status = file.readAll(text, std::min<uint64_t>(kMaxRecordBytes, budget));
    FoundRecord found;
    if (status.ok()) status = parse_kit_record(text, path, found.record);
    if (!status.ok()) {
      out.ignored.push_back(passed_over(path, status.note.empty() ? u"cannot be read"
                                                                   : status.note.c_str()));
      continue;
    }
    budget -= text.size();
    found.owner = owner;
    found.name = folderName + "/" + name;
    found.folder = folder_identity_of(folderInfo);
    found.identity = file_identity_of(info);
    out.records.push_back(std::move(found));
  }
}

}  // namespace

std::string record_folder_name(unsigned uid) { return kRecordFolderPrefix + std::to_string(uid); }

bool is_record_folder_name(const std::string& name, unsigned& uid) {
  const size_t prefix = sizeof kRecordFolderPrefix - 1;
  if (name.compare(0, prefix, kRecordFolderPrefix) != 0) return false;
  const std::string digits = name.substr(prefix);
  if (digits.empty() || digits.size() > 10 || (digits.size() > 1 && digits[0] == '0')) return false;
  uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > UINT32_MAX) return false;
  uid = static_cast<unsigned>(value);
  return true;
}

const FoundRecord* CatalogRecords::own(const std::string& name) const {
  for (const FoundRecord& found : records) {
    if (found.owner == ::geteuid() && found.record.name == name) return &found;
  }
  return nullptr;
}

const FoundRecord* CatalogRecords::any(const std::string& name) const {
  if (const FoundRecord* mine = own(name)) return mine;
  for (const FoundRecord& found : records) {
    if (found.record.name == name) return &found;
  }
  return nullptr;
}

Status read_catalog_records(const Directory& catalog, CatalogRecords& out) {
  out = CatalogRecords();
  std::vector<DirectoryEntry> entries;
  const Status status = catalog.list(entries);
  if (!status.ok()) return status;
  std::vector<std::pair<unsigned, std::string>> folders;
  for (const DirectoryEntry& entry : entries) {
    std::string name;
    unsigned uid = 0;
    if (to_system_path(entry.name, name) && is_record_folder_name(name, uid)) {
      folders.push_back({uid, name});
    }
  }
  std::sort(folders.begin(), folders.end());
  uint64_t budget = kMaxRecordsBytes;
  for (const auto& [uid, name] : folders) {
    Directory folder;
    FileInfo info;
    const SystemName leaf{name};
    const Status opened = catalog.openDirectory(leaf, FollowLinks::kNo, folder);
    if (!opened.ok() || !folder.info(info).ok() || info.owner != uid || !owner_only_writes(info)) {
      out.ignored.push_back(passed_over(
          catalog.pathOf(leaf), u"not a folder of the user its name gives that only that user "
                                u"may write"));
      continue;
    }
    read_folder(folder, uid, name, budget, out);
  }
  return Status();
}

std::vector<wstring> ignored_record_notes(const CatalogRecords& records) {
  std::vector<wstring> notes;
  for (const wstring& ignored : records.ignored) {
    notes.push_back(u"a kit record was passed over: " + ignored);
  }
  return notes;
}

Status open_own_record_folder(const Directory& catalog, bool create, Directory& out,
                              bool& made) {
  made = false;
  const SystemName leaf{record_folder_name(::geteuid())};
  Status status = catalog.openDirectory(leaf, FollowLinks::kNo, out);
  if (status.code == kErrorFileNotFound && create) {
    status = catalog.makeDirectory(leaf, kRecordFolderMode);
    made = status.ok();
    if (status.ok()) status = catalog.openDirectory(leaf, FollowLinks::kNo, out);
    // Readable by the catalog's other users whatever the umask.
    if (status.ok()) status = out.setOwnMode(kRecordFolderMode);
  }
  if (status.code == kErrorFileNotFound) return status;
  FileInfo info;
  if (status.ok()) status = out.info(info);
  if (status.ok() && (info.owner != ::geteuid() || !owner_only_writes(info))) {
    status = error_status(kErrorAccessDenied, catalog.pathOf(leaf));
  }
  if (!status.ok()) {
    out = Directory();
    status.code = kErrorAccessDenied;
    status.path = catalog.pathOf(leaf);
    status.note = u"the folder of this user's kit records is not a folder of this user that "
                  u"only this user may write";
  }
  return status;
}
