// An update keeps its signer: once a catalog's record of a kit names the
// key that signed it, a later kit of the same name signed by another key,
// or by none that this computer trusts, is refused unless the user accepts
// the new signer. A planted kit cannot then slip in as an update of a
// vendor's product merely because it carries the product's name.
//
// Pure functions over records already read (record_folder.h); any thread.
#ifndef QXR8_INSTALL_SIGNER_CONTINUITY_H_
#define QXR8_INSTALL_SIGNER_CONTINUITY_H_

#include <cstdint>
#include <string>
#include <vector>

#include "install/kit_origin.h"
#include "install/kit_table.h"
#include "install/record_folder.h"
#include "platform/status.h"
#include "platform/wstring.h"

struct SignerChange {
  bool changed = false;
  std::string kitName;       // UTF-8, as the records name it
  uint64_t recordedKey = 0;  // the key the catalog's record names
  std::string recordedComment;
  KitOrigin now;  // who signed the kit now offered
};

// Whether a kit named `kitName` and signed as `origin` says changes the
// signer that a record in `records` (the caller's own first, then any
// other user's) names for that name. A record without a signer, or none,
// changes nothing.
SignerChange signer_change(const CatalogRecords& records, const std::string& kitName,
                           const KitOrigin& origin);

// The same, reading the records of the catalog at `catalog` (a path)
// without locking it: the question a front end asks before a run, which
// the run asks again under its lock. A catalog that does not exist or
// cannot be read holds no record.
SignerChange signer_change_at(const wstring& catalog,
                              const std::vector<config::KitProductInfo>& products,
                              const KitOrigin& origin);

// "KEYID" of the recorded signer and a description of the new one
// ("key KEYID", "key KEYID, which this computer does not trust", "no
// signature"), for messages.
wstring recorded_signer_text(const SignerChange& change);
wstring new_signer_text(const SignerChange& change);

// The run's refusal: 5 naming `catalog`, the note naming both signers.
Status signer_change_refusal(const SignerChange& change, const wstring& catalog);

#endif  // QXR8_INSTALL_SIGNER_CONTINUITY_H_
