#include "install/trusted_keys.h"

#include <fcntl.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "platform/directory.h"
#include "platform/process_services.h"
#include "platform/system_path.h"

#ifndef QXR8_ADMIN_KEYS_DIR
#define QXR8_ADMIN_KEYS_DIR "/etc/qxr8/trusted-keys"
#endif

namespace {

// A key file is two short lines; anything much larger is not one.
constexpr uint64_t kMaxKeyFileBytes = 4096;

Status read_key_file(const Directory* folder, const wstring& name, const wstring& path,
                     MinisignKey& key) {
  File file;
  // O_NONBLOCK: a FIFO named like a key cannot hold the run.
  const int flags = O_RDONLY | O_NONBLOCK;
  Status status = folder != nullptr ? folder->openFile(name, flags, 0, file)
                                    : File::open(path, flags, 0, file);
  FileInfo info;
  if (status.ok()) status = file.info(info);
  if (status.ok() && info.kind != PathKind::kRegular) {
    status = error_status(kErrorInvalidData, path);
    status.note = u"not a regular file";
  }
  std::string text;
  if (status.ok()) status = file.readAll(text, kMaxKeyFileBytes);
  if (status.ok()) status = parse_minisign_key(text, path, key);
  return status;
}

// Every "*.pub" of `folder`, in name order; a missing folder has none.
Status read_folder(const wstring& folder, KeySource source, std::vector<TrustedKey>& out) {
  if (folder.empty()) return Status();
  Directory directory;
  Status status = Directory::open(folder, directory);
  if (status.code == kErrorFileNotFound || status.code == kErrorPathNotFound) return Status();
  // A user's folder this process cannot open (a HOME it may not read) only
  // trusts less: its keys never make a signature required.
  if (!status.ok() && source == KeySource::kUser) return Status();
  if (!status.ok()) return status;
  std::vector<DirectoryEntry> entries;
  status = directory.list(entries);
  if (!status.ok()) return status;
  std::sort(entries.begin(), entries.end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
  for (const DirectoryEntry& entry : entries) {
    const wstring& name = entry.name;
    if (entry.isDirectory || name.size() < 5 || name.compare(name.size() - 4, 4, u".pub") != 0) {
      continue;
    }
    TrustedKey key;
    key.source = source;
    key.file = directory.pathOf(name);
    status = read_key_file(&directory, name, key.file, key.key);
    if (!status.ok()) return status;
    out.push_back(key);
  }
  return Status();
}

}  // namespace

const char* key_source_text(KeySource source) {
  switch (source) {
    case KeySource::kAdministrator: return "the administrator's";
    case KeySource::kUser: return "the user's";
    case KeySource::kBuiltIn: return "built in";
    case KeySource::kGiven: return "given";
  }
  return "given";
}

TrustSettings TrustSettings::forThisProcess() {
  TrustSettings settings;
  settings.administratorFolder = from_system_path(QXR8_ADMIN_KEYS_DIR);
  const char* config = std::getenv("XDG_CONFIG_HOME");
  wstring base;
  // The variable counts only as an absolute path, as the convention has it.
  if (config != nullptr && config[0] == '/') {
    base = from_system_path(config);
  } else {
    const wstring home = home_dir();
    if (!home.empty()) base = home + u"/.config";
  }
  if (!base.empty()) settings.userFolder = base + u"/qxr8/trusted-keys";
  return settings;
}

Status TrustedKeys::load(const TrustSettings& settings) {
  m_keys.clear();
  m_required = settings.requireSignature;
  if (!settings.givenKeys.empty()) {
    for (const wstring& path : settings.givenKeys) {
      TrustedKey key;
      key.source = KeySource::kGiven;
      key.file = path;
      const Status status = read_key_file(nullptr, wstring(), path, key.key);
      if (!status.ok()) return status;
      m_keys.push_back(key);
    }
    m_required = true;
    return Status();
  }
  Status status = read_folder(settings.administratorFolder, KeySource::kAdministrator, m_keys);
  if (!status.ok()) return status;
  const bool administered = !m_keys.empty();
  for (size_t i = 0; i < kBuiltInKeyCount; ++i) {
    TrustedKey key;
    key.source = KeySource::kBuiltIn;
    status = parse_minisign_key(kBuiltInKeyTexts[i], u"(built in)", key.key);
    if (!status.ok()) return status;
    m_keys.push_back(key);
  }
  if (administered) {
    m_required = true;
    return Status();
  }
  return read_folder(settings.userFolder, KeySource::kUser, m_keys);
}

const TrustedKey* TrustedKeys::find(uint64_t keyId) const {
  for (const TrustedKey& key : m_keys) {
    if (key.key.keyId == keyId) return &key;
  }
  return nullptr;
}
