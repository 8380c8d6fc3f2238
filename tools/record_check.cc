#include "tools/record_check.h"

#include <algorithm>

#include "platform/text_encoding.h"

namespace {

bool is_kit_folder(const wstring& folder, const std::vector<wstring>& names) {
  const wstring prefix = folder + u"/";
  return std::any_of(names.begin(), names.end(),
                     [&](const wstring& name) { return name.compare(0, prefix.size(), prefix) == 0; });
}

}  // namespace

bool description_kit_name(const wstring& description, const std::vector<wstring>& names,
                          wstring& out) {
  // "a.html/" is a folder's name to the system, never a file's.
  if (description.empty() || description.back() == u'/' || description.back() == u'\\') return false;
  std::vector<wstring> steps;
  size_t start = 0;
  while (start <= description.size()) {
    size_t end = description.find_first_of(u"/\\", start);
    if (end == wstring::npos) end = description.size();
    const wstring step = description.substr(start, end - start);
    start = end + 1;
    if (step.empty() || step == u".") continue;
    if (step != u"..") {
      steps.push_back(step);
      continue;
    }
    // The system goes back only from a folder, and never above the catalog.
    wstring folder;
    for (const wstring& name : steps) folder += (folder.empty() ? u"" : u"/") + name;
    if (steps.empty() || !is_kit_folder(folder, names)) return false;
    steps.pop_back();
  }
  out.clear();
  for (const wstring& name : steps) out += (out.empty() ? u"" : u"/") + name;
  return !out.empty();
}

std::string record_problem(const config::KitProductInfo& record, const std::vector<wstring>& names) {
  const std::string which = "record '" + narrow_lib(record.language) + "': ";
  if (record.product.empty()) return which + "the product is empty";
  if (record.vendor.empty()) return which + "the vendor is empty";
  // The wizard has nothing to open when the description is only separators.
  if (record.description.find_first_not_of(u"/\\") == wstring::npos) return std::string();
  wstring name;
  if (!description_kit_name(record.description, names, name) ||
      std::find(names.begin(), names.end(), name) == names.end()) {
    return which + "description '" + narrow_lib(record.description) + "' is not a file in the kit";
  }
  return std::string();
}
