// The catalog list of the launcher: read from the per-user and all-users
// files, written to the per-user file. Main thread.
#ifndef QXR8_CONFIG_STARTER_H_
#define QXR8_CONFIG_STARTER_H_

#include <vector>

#include "config/config_file.h"
#include "platform/wstring.h"

// One read or one update of the catalog list; nothing is cached between
// objects. With useBase every location comes from the _base functions.
class Starter {
 public:
  explicit Starter(bool useBase = false) : useBase(useBase) {}

  // Fills both files' contents; missing or unreadable files stay empty.
  // localReadWhole := the per-user file was read whole or is missing.
  void loadConfig();

  // Appends the key's values from the loaded files to `out`, skipping values
  // already taken in this call (first spelling wins). Sources: per-user then
  // all-users with localFirst; else all-users, then per-user only with `all`.
  void getConfigFilesValues(bool localFirst, const char16_t* key, std::vector<wstring>& out,
                            bool all) const;

  // Loads the files and appends the catalogs (per-user then all-users with
  // localFirst, else all-users only) with "/" separators and no duplicates.
  void getTmpltsList(std::vector<wstring>& out, bool localFirst);

  // getTmpltsList and setTmpltsList without loading the files first: they
  // work on what the last loadConfig read, so that a registration can read
  // once and write what it read. storeLoaded returns whether the file was
  // written (false: it already held that text, see write_config_file).
  void listLoaded(std::vector<wstring>& out, bool localFirst) const;
  bool storeLoaded(const std::vector<wstring>& catalogs);

  // Loads the files, replaces the per-user catalog list by `catalogs` (less
  // duplicates) keeping every other key, and saves. Throws the writer's int;
  // 1, with nothing written, when the per-user file exists but cannot be
  // read whole (no read permission, a read error).
  void setTmpltsList(const std::vector<wstring>& catalogs);

  // Every "\" becomes "/".
  static void replaceWrongSeparators(std::vector<wstring>& list);

  // Drops later duplicates: equal up to ASCII case, with a missing trailing
  // "\" counted as present. "X/" and "X" are different.
  static void removePathDuplicates(std::vector<wstring>& list);

  // Writes localConfig to the per-user file, creating its directory; on a
  // failure creates the fallback directories and tries once more. The second
  // failure's int propagates. False when the file already held the text
  // and was left untouched.
  bool saveLocalConfigFile();

  ConfigFile localConfig;
  ConfigFile allUsersConfig;
  bool useBase;
  bool localReadWhole = true;
};

// Appends the catalog list to `out` (see Starter::getTmpltsList).
void get_tmplts_list(std::vector<wstring>& out, bool localFirst, bool useBase);

// Writes the catalog list (see Starter::setTmpltsList); throws int 1 or 2.
void set_tmplts_list(const std::vector<wstring>& catalogs, bool useBase);

#endif  // QXR8_CONFIG_STARTER_H_
