// The two steps that record an installed templates catalog in the launcher's
// configuration: reading the known catalogs before an installation, and
// putting the new catalog at the head of that list after a success. The
// wizard and the headless install share them so both leave the same files.
//
// Main (GUI) thread or a tool's only thread. Registrations of several
// processes are serialised by RegistrationLock.
#ifndef QXR8_CONFIG_CATALOG_REGISTRATION_H_
#define QXR8_CONFIG_CATALOG_REGISTRATION_H_

#include <vector>

#include "platform/wstring.h"

// What the start-up read found; handed back unchanged to register_catalog.
struct CatalogRegistration {
  // Known catalogs in priority order, separators already "/", no duplicates.
  std::vector<wstring> tmpltsList;
  // The per-user base file (get_local_config_file_path_base()) exists.
  bool hasBaseCfg = false;
  // The list came from the base file because the ordinary per-user file is
  // missing; then only the base file is written back.
  bool listFromBaseCfg = false;
  // Kept old texts of launcher files that a killed writer left half
  // rewritten and that could not be put back (in_place_rewrite.h).
  std::vector<wstring> unrestored;
  // Set by register_catalog: a launcher file was written. False when every
  // file already listed the catalog first with the same list, and was left
  // untouched (inode and time stamps too).
  bool changed = false;
};

// Start-up read. A per-user launcher file that a killed writer left half
// rewritten in place is first put back as it was (what cannot be put back
// is named in `unrestored`). hasBaseCfg := the base file exists. If the ordinary per-user
// file exists, its list followed by the all-users list is read; otherwise, if
// the base file exists, the list of the base locations is read and
// listFromBaseCfg := the list is not empty; otherwise the list stays empty.
// Unreadable files contribute nothing. Only std::bad_alloc can escape.
CatalogRegistration read_catalog_registration();

// Fills an existing registration the same way (the list is appended to, the
// two flags are overwritten). For callers that keep the fields themselves.
void read_catalog_registration(std::vector<wstring>& tmpltsList, bool& hasBaseCfg,
                               bool& listFromBaseCfg);

// After a successful installation into `catalogPath`. Under the
// registration lock, `reg` is read again from the files as they stand now
// (list and both flags, as read_catalog_registration does; the start-up
// values are discarded, so a catalog another registration added meanwhile
// is kept), and the path with one trailing "\" or "/" cut is inserted at the
// front of the list. Then, unless listFromBaseCfg, the list is written to
// the ordinary per-user file; then, if hasBaseCfg, to the base file; a file
// that already holds that text is not written, and `reg.changed` says
// whether one was. A failing write skips the remaining one. Before reading,
// the temporaries that dead writers left beside the two files are swept
// (temporary_sweep.h). Returns 0 when every write
// succeeded, else the integer the writer threw (1 the file cannot be
// created or cannot be read whole, so it was left untouched; 2 writing or
// replacing failed), or -1 for any other failure (such as running out of
// memory). Never throws.
int register_catalog(CatalogRegistration& reg, const wstring& catalogPath);

// The same for callers that keep the three fields themselves: the list is
// replaced as above; the flags passed in are superseded by the fresh read.
int register_catalog(std::vector<wstring>& tmpltsList, bool hasBaseCfg, bool listFromBaseCfg,
                     const wstring& catalogPath);

// After a kit was taken out of `catalogPath` and the catalog holds nothing
// more: under the registration lock, every value of the catalog key equal
// to the path (up to ASCII case, separators made "/", a trailing one cut)
// is taken out of the per-user file and of the base file, where they
// exist; every other key and value stays, and the files are rewritten as a
// registration rewrites them (dead writers' temporaries swept first).
// `changed`, when given, says whether a file was written. Returns 0, or
// the writer's integer as register_catalog does. Never throws.
int unregister_catalog(const wstring& catalogPath, bool* changed = nullptr);

#endif  // QXR8_CONFIG_CATALOG_REGISTRATION_H_
