// Whether a templates catalog holds what a kit says, found without writing
// anything: for every entry, whether its file is missing, older than the
// kit's copy, or changed. The decisions are the run's own (install_plan.h:
// the same names, the same link rule, the same refusals); a file the run
// would keep is then compared byte for byte with the kit's copy.
//
// Reads the catalog and the kit, writes nothing and takes no lock, so a run
// into the same catalog meanwhile may show half done. The caller's thread;
// the kit must not be used by another thread meanwhile.
#ifndef QXR8_INSTALL_CATALOG_CHECK_H_
#define QXR8_INSTALL_CATALOG_CHECK_H_

#include <vector>

#include "install/install_data.h"
#include "install/kit_record.h"
#include "platform/status.h"
#include "platform/wstring.h"

// How an entry's file stands against the kit's copy. When several apply,
// the first that does wins: a file whose time is earlier is "older"
// whatever its bytes; one with the kit's time or a later one is "changed"
// when its size or bytes differ.
enum class CatalogDifference {
  kNone,     // the same bytes, and a time not earlier than the kit's
  kMissing,  // nothing there, or a level above it is missing
  kOlder,    // a time earlier than the kit's (to the second, as a run compares)
  kChanged,  // another size or other bytes; or a dangling link or another
             // user's link, which the run replaces and never reads through
};

struct CheckedEntry {
  wstring name;  // normalised, relative to the catalog
  CatalogDifference difference = CatalogDifference::kNone;
};

struct CatalogCheck {
  std::vector<CheckedEntry> entries;  // in kit order
  unsigned long asInKit = 0;
  unsigned long missing = 0;
  unsigned long older = 0;
  unsigned long changed = 0;

  bool matches() const { return missing + older + changed == 0; }
};

// Compares the catalog `catalog` (a path; a final "/" added when missing)
// with `kit`, which must be complete (KitReader::isComplete). Returns
// success with every entry in `check`, or the failure that stops the
// comparison, with the entries compared before it in `check`: the Status
// of a catalog that exists but cannot be opened as a folder; the refusal a
// run would stop with (183 for something that is not a file, 123 for a
// name without an exact system name, 5 for another user's link on the way,
// 3 or 183 for a file where another entry needs a folder); a file that
// cannot be read (its path and the system's reason); 87 for a kit that is
// not complete. A catalog that does not exist holds every file missing.
Status check_catalog(const KitReader& kit, const wstring& catalog, CatalogCheck& check);

// The same without the kit: the files `record` lists (kit_record.h), each
// compared with its recorded size and time and with the hash of the kit's
// bytes, so that a file changed since, whatever its time, is "changed".
// The same failures, but for the kit's.
Status check_recorded(const KitRecord& record, const wstring& catalog, CatalogCheck& check);

#endif  // QXR8_INSTALL_CATALOG_CHECK_H_
