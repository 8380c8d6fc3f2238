#include "config/starter.h"

#include <string>
#include <unordered_set>

#include "config/config_locations.h"
#include "config/config_reader.h"
#include "config/config_writer.h"
#include "platform/file_finder.h"
#include "platform/file_system.h"
#include "platform/process_services.h"
#include "platform/string_utils.h"

namespace {

// The writer's code for a file that cannot be opened: no write is tried.
constexpr int kUnreadableFile = 1;

// A file that cannot be read must not keep the other one from being used.
// True when the file was read whole or is missing.
bool readQuietly(const wstring& path, ConfigFile& config) {
  try {
    return read_config_file(path, config);
  } catch (...) {
    return false;
  }
}

bool fileExists(const wstring& path) {
  FileFinder finder;
  return finder.reset(path);
}

}  // namespace

void Starter::loadConfig() {
  readQuietly(useBase ? get_allusers_config_file_path_base() : get_allusers_config_file_path(),
              allUsersConfig);
  localReadWhole =
      readQuietly(useBase ? get_local_config_file_path_base() : get_local_config_file_path(),
                  localConfig);
}

void Starter::getConfigFilesValues(bool localFirst, const char16_t* key, std::vector<wstring>& out,
                                   bool all) const {
  std::vector<const ConfigFile*> sources;
  if (localFirst) {
    sources = {&localConfig, &allUsersConfig};
  } else {
    sources = {&allUsersConfig};
    if (all) sources.push_back(&localConfig);
  }
  std::unordered_set<std::string> taken;
  for (const ConfigFile* source : sources) {
    const std::vector<wstring>* values = source->findValues(key);
    if (values == nullptr) continue;
    for (const wstring& value : *values) {
      if (taken.insert(nocase_key(value)).second) out.push_back(value);
    }
  }
}

void Starter::getTmpltsList(std::vector<wstring>& out, bool localFirst) {
  loadConfig();
  listLoaded(out, localFirst);
}

void Starter::listLoaded(std::vector<wstring>& out, bool localFirst) const {
  getConfigFilesValues(localFirst, kConfigFileFieldTemplatesLocation, out, localFirst);
  replaceWrongSeparators(out);
  removePathDuplicates(out);
}

void Starter::setTmpltsList(const std::vector<wstring>& catalogs) {
  loadConfig();
  storeLoaded(catalogs);
}

bool Starter::storeLoaded(const std::vector<wstring>& catalogs) {
  // Writing back what was only partly read would drop the rest of the
  // user's settings.
  if (!localReadWhole) throw kUnreadableFile;
  std::vector<wstring> unique = catalogs;
  removePathDuplicates(unique);
  localConfig.setValues(kConfigFileFieldTemplatesLocation, unique);
  return saveLocalConfigFile();
}

void Starter::replaceWrongSeparators(std::vector<wstring>& list) {
  for (wstring& path : list) replace_all(path, kBadPathSeparator, kPathSeparator);
}

void Starter::removePathDuplicates(std::vector<wstring>& list) {
  std::unordered_set<std::string> seen;
  std::vector<wstring> kept;
  kept.reserve(list.size());
  for (wstring& path : list) {
    wstring key = path;
    if (!key.empty() && key.back() != kBadPathSeparatorChar && key.back() != kPathSeparatorChar) {
      key += kBadPathSeparator;
    }
    if (seen.insert(nocase_key(key)).second) kept.push_back(std::move(path));
  }
  list.swap(kept);
}

bool Starter::saveLocalConfigFile() {
  const wstring path = useBase ? get_local_config_file_path_base() : get_local_config_file_path();
  if (!fileExists(path)) {
    const size_t cut = path.find_last_of(u"\\/");
    if (cut != wstring::npos) FileSystem::CreateDirectory(path.substr(0, cut));
  }
  try {
    return write_config_file(path, localConfig);
  } catch (int) {
    // One more attempt after making the launcher's fallback directories
    // below the product data directory, as the launcher itself would.
    wstring dir = app_data_dir(false) + u"\\Qx";
    FileSystem::CreateDirectory(dir);
    dir += useBase ? kStartrDirt : kStartrDir;
    FileSystem::CreateDirectory(dir);
    return write_config_file(path, localConfig);
  }
}

void get_tmplts_list(std::vector<wstring>& out, bool localFirst, bool useBase) {
  Starter starter(useBase);
  starter.getTmpltsList(out, localFirst);
}

void set_tmplts_list(const std::vector<wstring>& catalogs, bool useBase) {
  Starter starter(useBase);
  starter.setTmpltsList(catalogs);
}
