#include "config/catalog_registration.h"

#include "config/config_locations.h"
#include "config/registration_lock.h"
#include "config/starter.h"
#include "platform/file_finder.h"

namespace {

bool fileExists(const wstring& path) {
  FileFinder finder;
  return finder.reset(path);
}

}  // namespace

void read_catalog_registration(std::vector<wstring>& tmpltsList, bool& hasBaseCfg,
                               bool& listFromBaseCfg) {
  hasBaseCfg = fileExists(get_local_config_file_path_base());
  listFromBaseCfg = false;
  if (fileExists(get_local_config_file_path())) {
    get_tmplts_list(tmpltsList, true, false);
  } else if (hasBaseCfg) {
    get_tmplts_list(tmpltsList, true, true);
    listFromBaseCfg = !tmpltsList.empty();
  }
}

CatalogRegistration read_catalog_registration() {
  CatalogRegistration reg;
  read_catalog_registration(reg.tmpltsList, reg.hasBaseCfg, reg.listFromBaseCfg);
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
    // again while no other registration can write.
    RegistrationLock lock;
    reg.tmpltsList.clear();
    read_catalog_registration(reg.tmpltsList, reg.hasBaseCfg, reg.listFromBaseCfg);
    reg.tmpltsList.insert(reg.tmpltsList.begin(), p);
    if (!reg.listFromBaseCfg) set_tmplts_list(reg.tmpltsList, false);
    if (reg.hasBaseCfg) set_tmplts_list(reg.tmpltsList, true);
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
