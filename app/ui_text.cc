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

namespace {

template <class Text>
Text fill_in_values(const Text& pattern, std::initializer_list<Text> values) {
  Text out;
  for (size_t i = 0; i < pattern.size(); ++i) {
    // Unsigned: a character below '1' wraps round and matches no value.
    const size_t number = i + 1 < pattern.size()
                              ? static_cast<size_t>(pattern[i + 1]) - size_t{'1'}
                              : 9;
    if (pattern[i] == '%' && number < values.size() && number < 9) {
      out += values.begin()[number];
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

}  // namespace

std::string fill_in(const std::string& pattern, std::initializer_list<std::string> values) {
  return fill_in_values(pattern, values);
}

wstring fill_in(const wstring& pattern, std::initializer_list<wstring> values) {
  return fill_in_values(pattern, values);
}
