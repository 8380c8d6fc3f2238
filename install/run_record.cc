#include "install/run_record.h"

#include <map>

#include "install/kit_origin.h"
#include "platform/system_path.h"

namespace {

// The plan's entries the record names: the last of each name, in kit order.
std::vector<size_t> recorded_entries(const InstallPlan& plan) {
  std::map<std::string, size_t> last;
  for (size_t i = 0; i < plan.entries.size(); ++i) last[plan.entries[i].systemName] = i;
  std::vector<size_t> out;
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    if (last[plan.entries[i].systemName] == i) out.push_back(i);
  }
  return out;
}

uint64_t time_of(const config::KitEntry& entry) {
  return static_cast<uint64_t>(entry.lastWriteTime.dwHighDateTime) << 32 |
         entry.lastWriteTime.dwLowDateTime;
}

// The record's first lines, for `kit`.
KitRecord head_of(const KitReader& kit) {
  KitRecord record;
  record.products = kit.productInfo;
  record.name = kit_name_of(record.products);
  const wstring& path = kit.kitPath();
  const size_t slash = path.rfind(kPathSeparatorChar);
  to_system_path(slash == wstring::npos ? path : path.substr(slash + 1), record.kitFile);
  set_record_signer(kit, record);
  return record;
}

}  // namespace

void set_record_signer(const KitReader& kit, KitRecord& record) {
  const KitOriginCheck* check = kit.file().originCheck();
  if (check == nullptr || check->origin().kind != KitOrigin::Kind::kSigned) return;
  record.isSigned = true;
  record.keyId = check->origin().keyId;
  record.trustedComment = check->origin().trustedComment;
}

Status build_run_record(KitReader& kit, const InstallPlan& plan, int64_t installedAt,
                        KitRecord& out) {
  out = head_of(kit);
  out.installedAt = installedAt;
  kit.file().fileHash(out.kitHash);
  for (size_t index : recorded_entries(plan)) {
    RecordedFile file;
    file.name = plan.entries[index].systemName;
    file.size = kit.entries[index].size;
    file.time = time_of(kit.entries[index]);
    const Status status = kit.file().entryHash(index, file.hash);
    if (!status.ok()) return status;
    out.files.push_back(std::move(file));
  }
  return Status();
}

bool record_is_current(const FoundRecord* own, const KitReader& kit, const InstallPlan& plan) {
  if (own == nullptr) return false;
  const KitRecord head = head_of(kit);
  const KitRecord& old = own->record;
  if (old.name != head.name || old.isSigned != head.isSigned ||
      old.keyId != head.keyId || old.trustedComment != head.trustedComment ||
      old.products.size() != head.products.size()) {
    return false;
  }
  for (size_t i = 0; i < old.products.size(); ++i) {
    const config::KitProductInfo& a = old.products[i];
    const config::KitProductInfo& b = head.products[i];
    if (a.language != b.language || a.product != b.product || a.vendor != b.vendor ||
        a.description != b.description) {
      return false;
    }
  }
  const std::vector<size_t> entries = recorded_entries(plan);
  if (entries.size() != old.files.size()) return false;
  for (size_t i = 0; i < entries.size(); ++i) {
    const RecordedFile& file = old.files[i];
    const size_t index = entries[i];
    if (file.name != plan.entries[index].systemName || file.size != kit.entries[index].size ||
        file.time != time_of(kit.entries[index])) {
      return false;
    }
  }
  return true;
}
