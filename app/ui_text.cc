#include "app/ui_text.h"

#include <glib.h>

#include "platform/system_path.h"
#include "platform/utf8.h"

std::string path_to_ui_text(const wstring& path) {
  std::string name;
  if (!to_system_path(path, name)) return to_ui_text(path);
  gchar* shown = g_filename_display_name(name.c_str());
  std::string out = shown != nullptr ? shown : to_ui_text(path);
  g_free(shown);
  return out;
}
