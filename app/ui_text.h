// File names as the wizard shows them: the way GTK shows file names, through
// GLib's display-name conversion, so that the entry and GTK's own folder
// chooser agree. Other texts for GTK go through to_ui_text
// (platform/utf8.h). Main thread (GTK's thread), like every GTK call.
#ifndef QXR8_APP_UI_TEXT_H_
#define QXR8_APP_UI_TEXT_H_

#include <initializer_list>
#include <string>

#include "platform/wstring.h"

// UTF-8 for GTK showing `path`: g_filename_display_name of its exact system
// name (a byte GLib cannot decode shows as U+FFFD). A path without an exact
// system name is shown with to_ui_text.
std::string path_to_ui_text(const wstring& path);

// The UTF-8 text `pattern` with each "%1" to "%9" replaced by the value of
// that number in `values` (counted from 1). One pass: a value that holds
// "%1" stays as it is. A number without a value is left in the text. Any
// thread.
std::string fill_in(const std::string& pattern, std::initializer_list<std::string> values);
// The same for texts before their conversion for GTK.
wstring fill_in(const wstring& pattern, std::initializer_list<wstring> values);

#endif  // QXR8_APP_UI_TEXT_H_
