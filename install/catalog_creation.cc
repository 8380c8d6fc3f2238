#include "install/catalog_creation.h"

#include "install/catalog_walk.h"
#include "platform/system_path.h"

namespace {

// The path without its final "/" (but "/" stays "/").
wstring trimmed(wstring path) {
  while (path.size() > 1 && path.back() == kPathSeparatorChar) path.pop_back();
  return path;
}

}  // namespace

Status make_catalog(const wstring& path, bool& made, wstring& parent, SystemName& name) {
  made = false;
  parent.clear();
  name = SystemName();
  const wstring target = trimmed(path);
  std::string system;
  if (target.empty() || !to_system_path(target, system)) {
    return error_status(kErrorInvalidName, path);
  }
  Directory existing;
  Status status = Directory::open(target, existing);
  if (status.ok() || status.code != kErrorFileNotFound) return status;
  // The deepest existing folder of the path, then the rest below it.
  wstring base = target;
  wstring rest;
  for (;;) {
    const size_t slash = base.rfind(kPathSeparatorChar);
    const wstring above = slash == wstring::npos ? wstring(u".")
                          : slash == 0           ? wstring(u"/")
                                                 : base.substr(0, slash);
    const wstring level = slash == wstring::npos ? base : base.substr(slash + 1);
    // "a//b" and "a/./b" name "a/b".
    if (!level.empty() && level != u".") rest = rest.empty() ? level : level + kPathSeparator + rest;
    status = Directory::open(above, existing);
    if (status.ok()) break;
    if (status.code != kErrorFileNotFound || slash == wstring::npos || slash == 0) return status;
    base = above;
  }
  Directory catalog;
  status = open_catalog_directory(
      existing, rest, true,
      [&](const Directory& above, const wstring& level, const wstring& relative) {
        if (relative != rest) return;
        made = true;
        parent = above.path();
        to_system_path(level, name.bytes);
      },
      catalog);
  return status;
}
