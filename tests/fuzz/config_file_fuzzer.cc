// Fuzzes the launcher configuration file through a whole registration.
//
// Input: the bytes of the per-user launcher file, in any encoding or none.
// Each run reads the file, registers a catalog the way the wizard does after
// an installation (start-up read, lock, re-read, write), and reads the file
// again. Besides crashes, the target aborts when a promise is broken: the
// file cannot be read although it is a plain file, the registration fails,
// the second read differs from the first in anything but the catalog list
// (which must now begin with the catalog, followed by the earlier catalogs
// with "/" separators and no duplicates), or a temporary is left beside
// the file.
#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "config/catalog_registration.h"
#include "config/config_file.h"
#include "config/config_locations.h"
#include "config/config_reader.h"
#include "config/starter.h"
#include "platform/text_encoding.h"

namespace {

constexpr char16_t kCatalog[] = u"/fuzz/catalog";

std::string g_root;  // private directory of this process: HOME and TMPDIR
std::string g_dir;   // the per-user launcher folder
std::string g_file;  // the per-user launcher file

void remove_root() {
  std::error_code ignored;
  if (!g_root.empty()) std::filesystem::remove_all(g_root, ignored);
}

void fail(const char* what) {
  std::fprintf(stderr, "config_file_fuzzer: %s\n", what);
  std::abort();
}

std::vector<std::string> names_in(const std::string& directory) {
  std::vector<std::string> names;
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return names;
  while (dirent* item = readdir(dir)) {
    if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0) {
      names.push_back(item->d_name);
    }
  }
  closedir(dir);
  return names;
}

bool same_entries(const ConfigFile& a, const ConfigFile& b) {
  if (a.entries().size() != b.entries().size()) return false;
  for (size_t i = 0; i < a.entries().size(); ++i) {
    if (a.entries()[i].key != b.entries()[i].key) return false;
    if (a.entries()[i].values != b.entries()[i].values) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The suite's locale, chosen before the first conversion selects it.
  setenv("LC_ALL", "C.UTF-8", 1);
  // Memory-backed when possible: every registration syncs its file.
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string pattern = std::string(base) + "/qxr8-config-fuzz-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) fail("cannot make a private directory");
  g_root = pattern;
  setenv("HOME", g_root.c_str(), 1);
  setenv("TMPDIR", g_root.c_str(), 1);
  std::atexit(remove_root);
  g_dir = narrow_lib(get_local_config_file_dir());
  g_file = narrow_lib(get_local_config_file_path());
  std::error_code error;
  std::filesystem::create_directories(g_dir, error);
  if (error) fail("cannot make the launcher folder");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* out = std::fopen(g_file.c_str(), "wb");
  if (out == nullptr) fail("cannot write the launcher file");
  if (size > 0 && std::fwrite(data, 1, size, out) != size) fail("short write");
  std::fclose(out);
  const wstring path = widen_lib(g_file);

  ConfigFile first;
  if (!read_config_file(path, first)) fail("a plain file was not read whole");

  CatalogRegistration reg = read_catalog_registration();
  if (register_catalog(reg, kCatalog) != 0) fail("the registration failed");

  ConfigFile second;
  if (!read_config_file(path, second)) fail("the rewritten file was not read whole");

  std::vector<wstring> catalogs{kCatalog};
  if (const std::vector<wstring>* old = first.findValues(kConfigFileFieldTemplatesLocation)) {
    std::vector<wstring> known = *old;
    Starter::replaceWrongSeparators(known);
    catalogs.insert(catalogs.end(), known.begin(), known.end());
  }
  Starter::removePathDuplicates(catalogs);
  ConfigFile expected = first;
  expected.setValues(kConfigFileFieldTemplatesLocation, catalogs);
  if (!same_entries(expected, second)) fail("the rewrite changed more than the catalog list");

  if (names_in(g_dir) != std::vector<std::string>{"qxlaunch.cfg"}) {
    fail("something was left beside the launcher file");
  }
  return 0;
}
