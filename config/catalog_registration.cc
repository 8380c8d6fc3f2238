#include "config/catalog_registration.h"

#include "config/config_locations.h"
#include "config/in_place_rewrite.h"
#include "config/registration_lock.h"
#include "config/starter.h"
#include "config/temporary_sweep.h"
#include "platform/file_finder.h"
#include "platform/string_utils.h"

namespace {

bool fileExists(const wstring& path) {
  FileFinder finder;
  return finder.reset(path);
}

// The start-up read on the two Starters (ordinary and base locations); a
// Starter whose files were read has `loaded` set, so that a registration
// writes back exactly what it read.
void readInto(Starter& ordinary, bool& ordinaryLoaded, Starter& base, bool& baseLoaded,
              std::vector<wstring>& tmpltsList, bool& hasBaseCfg, bool& listFromBaseCfg,
              std::vector<wstring>* unrestored = nullptr) {
  // A rewrite in place that a killed writer left unfinished is undone
  // before anything reads the file.
  for (const wstring& path : {get_local_config_file_path(), get_local_config_file_path_base()}) {
    wstring kept;
    if (!restore_interrupted_rewrite(path, kept) && unrestored != nullptr) {
      unrestored->push_back(kept);
    }
  }
  hasBaseCfg = fileExists(get_local_config_file_path_base());
  listFromBaseCfg = false;
  if (fileExists(get_local_config_file_path())) {
    ordinary.loadConfig();
    ordinaryLoaded = true;
    ordinary.listLoaded(tmpltsList, true);
  } else if (hasBaseCfg) {
    base.loadConfig();
    baseLoaded = true;
    base.listLoaded(tmpltsList, true);
    listFromBaseCfg = !tmpltsList.empty();
  }
}

// Under the registration lock, before either file is read: what dead
// writers left beside the two per-user files goes.
void sweep_temporaries(const RegistrationLock& lock) {
  sweep_writer_temporaries(get_local_config_file_path(), lock);
  sweep_writer_temporaries(get_local_config_file_path_base(), lock);
}

}  // namespace

void read_catalog_registration(std::vector<wstring>& tmpltsList, bool& hasBaseCfg,
                               bool& listFromBaseCfg) {
  Starter ordinary(false);
  Starter base(true);
  bool ordinaryLoaded = false;
  bool baseLoaded = false;
  readInto(ordinary, ordinaryLoaded, base, baseLoaded, tmpltsList, hasBaseCfg, listFromBaseCfg);
}

CatalogRegistration read_catalog_registration() {
  CatalogRegistration reg;
  Starter ordinary(false);
  Starter base(true);
  bool ordinaryLoaded = false;
  bool baseLoaded = false;
  readInto(ordinary, ordinaryLoaded, base, baseLoaded, reg.tmpltsList, reg.hasBaseCfg,
           reg.listFromBaseCfg, &reg.unrestored);
  return reg;
}

int register_catalog(CatalogRegistration& reg, const wstring& catalogPath) {
  try {
    wstring p = catalogPath;
    if (!p.empty() && (p.back() == kPathSeparatorChar || p.back() == kBadPathSeparatorChar)) {
      p.pop_back();
    }
    // The list and the flags of the start-up read may be stale by now (a
    // registration of another process may have ended since): they are read
    // again while no other registration can write, and what is written is
    // that same read with the list changed.
    RegistrationLock lock;
    sweep_temporaries(lock);
    Starter ordinary(false);
    Starter base(true);
    bool ordinaryLoaded = false;
    bool baseLoaded = false;
    reg.changed = false;
    reg.tmpltsList.clear();
    readInto(ordinary, ordinaryLoaded, base, baseLoaded, reg.tmpltsList, reg.hasBaseCfg,
             reg.listFromBaseCfg);
    reg.tmpltsList.insert(reg.tmpltsList.begin(), p);
    if (!reg.listFromBaseCfg) {
      if (!ordinaryLoaded) ordinary.loadConfig();
      reg.changed = ordinary.storeLoaded(reg.tmpltsList);
    }
    if (reg.hasBaseCfg) {
      if (!baseLoaded) base.loadConfig();
      reg.changed = base.storeLoaded(reg.tmpltsList) || reg.changed;
    }
  } catch (int code) {
    return code;
  } catch (...) {
    return -1;
  }
  return 0;
}

int register_catalog(std::vector<wstring>& tmpltsList, bool hasBaseCfg, bool listFromBaseCfg,
                     const wstring& catalogPath) {
  CatalogRegistration reg;
  reg.tmpltsList.swap(tmpltsList);
  reg.hasBaseCfg = hasBaseCfg;
  reg.listFromBaseCfg = listFromBaseCfg;
  const int rc = register_catalog(reg, catalogPath);
  tmpltsList.swap(reg.tmpltsList);
  return rc;
}

namespace {

// `path` as catalog lists compare it: separators "/", no trailing one.
wstring comparable_catalog(wstring path) {
  replace_all(path, kBadPathSeparator, kPathSeparator);
  while (path.size() > 1 && path.back() == kPathSeparatorChar) path.pop_back();
  return path;
}

}  // namespace

int unregister_catalog(const wstring& catalogPath, bool* changed) {
  if (changed != nullptr) *changed = false;
  try {
    const wstring wanted = comparable_catalog(catalogPath);
    RegistrationLock lock;
    sweep_temporaries(lock);
    for (const bool useBase : {false, true}) {
      if (!fileExists(useBase ? get_local_config_file_path_base() : get_local_config_file_path())) {
        continue;
      }
      Starter starter(useBase);
      starter.loadConfig();
      const std::vector<wstring>* values =
          starter.localConfig.findValues(kConfigFileFieldTemplatesLocation);
      if (values == nullptr) continue;
      std::vector<wstring> kept;
      for (const wstring& value : *values) {
        if (compare_nocase(comparable_catalog(value), wanted) != 0) kept.push_back(value);
      }
      if (kept.size() != values->size() && starter.storeLoaded(kept) && changed != nullptr) {
        *changed = true;
      }
    }
  } catch (int code) {
    return code;
  } catch (...) {
    return -1;
  }
  return 0;
}
