// File names as the wizard shows them: the way GTK shows file names, through
// GLib's display-name conversion, so that the entry and GTK's own folder
// chooser agree. Other texts for GTK go through to_ui_text
// (platform/utf8.h). Main thread (GTK's thread), like every GTK call.
#ifndef QXR8_APP_UI_TEXT_H_
#define QXR8_APP_UI_TEXT_H_

#include <string>

#include "platform/wstring.h"

// UTF-8 for GTK showing `path`: g_filename_display_name of its exact system
// name (a byte GLib cannot decode shows as U+FFFD). A path without an exact
// system name is shown with to_ui_text.
std::string path_to_ui_text(const wstring& path);

#endif  // QXR8_APP_UI_TEXT_H_
