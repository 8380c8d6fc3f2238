#include "config/catalog_registration.h"


#include "config/config_locations.h"
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

int register_catalog(std::vector<wstring>& tmpltsList, bool hasBaseCfg, bool listFromBaseCfg,
                     const wstring& catalogPath) {
  try {
    wstring p = catalogPath;
    if (!p.empty() && (p.back() == kPathSeparatorChar || p.back() == kBadPathSeparatorChar)) {
      p.pop_back();
    }
    tmpltsList.insert(tmpltsList.begin(), p);
    if (!listFromBaseCfg) set_tmplts_list(tmpltsList, false);
    if (hasBaseCfg) set_tmplts_list(tmpltsList, true);
  } catch (int code) {
    return code;
  } catch (...) {
    return -1;
  }
  return 0;
}

int register_catalog(CatalogRegistration& reg, const wstring& catalogPath) {
  return register_catalog(reg.tmpltsList, reg.hasBaseCfg, reg.listFromBaseCfg, catalogPath);
}
