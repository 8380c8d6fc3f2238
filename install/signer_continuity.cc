#include "install/signer_continuity.h"

#include "install/kit_signature.h"
#include "platform/text_encoding.h"
#include "platform/utf8.h"

SignerChange signer_change(const CatalogRecords& records, const std::string& kitName,
                           const KitOrigin& origin) {
  SignerChange change;
  change.kitName = kitName;
  change.now = origin;
  const FoundRecord* found = nullptr;
  // The caller's own record first; then the first signed one of anyone.
  const FoundRecord* own = records.own(kitName);
  if (own != nullptr && own->record.isSigned) found = own;
  for (size_t i = 0; found == nullptr && i < records.records.size(); ++i) {
    const FoundRecord& other = records.records[i];
    if (other.record.name == kitName && other.record.isSigned) found = &other;
  }
  if (found == nullptr) return change;
  change.recordedKey = found->record.keyId;
  change.recordedComment = found->record.trustedComment;
  change.changed = origin.kind != KitOrigin::Kind::kSigned || origin.keyId != change.recordedKey;
  return change;
}

SignerChange signer_change_at(const wstring& catalog,
                              const std::vector<config::KitProductInfo>& products,
                              const KitOrigin& origin) {
  CatalogRecords records;
  Directory opened;
  if (Directory::open(catalog, opened).ok()) read_catalog_records(opened, records);
  return signer_change(records, kit_name_of(products), origin);
}

wstring recorded_signer_text(const SignerChange& change) {
  return widen_lib(key_id_text(change.recordedKey));
}

wstring new_signer_text(const SignerChange& change) {
  switch (change.now.kind) {
    case KitOrigin::Kind::kSigned: return u"key " + widen_lib(key_id_text(change.now.keyId));
    case KitOrigin::Kind::kUnknownSigner:
      return u"key " + widen_lib(key_id_text(change.now.keyId)) +
             u", which this computer does not trust";
    case KitOrigin::Kind::kUnsigned: break;
  }
  return u"no signature";
}

Status signer_change_refusal(const SignerChange& change, const wstring& catalog) {
  Status status = error_status(kErrorAccessDenied, catalog);
  status.note = u"the catalog's record of " + utf8_to_wide(change.kitName) +
                u" names the signer key " + recorded_signer_text(change) +
                u"; the kit offered now has " + new_signer_text(change);
  return status;
}
