// What a screen reader and a keyboard user need of the wizard's widgets:
// accessible names and label relations in the accessibility tree (ATK, which
// GTK's accessibility bridge exports), and a keyboard focus that never rests
// on a control that cannot act. Main thread, like every GTK call.
#ifndef QXR8_APP_ACCESSIBILITY_H_
#define QXR8_APP_ACCESSIBILITY_H_

#include <gtk/gtk.h>

#include <string>

// Gives `widget` the accessible name `name` (UTF-8), which a screen reader
// reads instead of whatever it would make of the widget itself.
void set_accessible_name(GtkWidget* widget, const std::string& name);

// Makes `label` the visible caption of `target` for a screen reader: the
// target is labelled by the label and the label is the label for the
// target, and the target's accessible name becomes the label's text. Call
// again after the label's text changed, to carry the new name over.
void set_label_for(GtkWidget* label, GtkWidget* target);

// Gives the keyboard focus of `window` to `widget` when it is shown,
// sensitive and can take the focus; otherwise to the window itself (no
// widget), so that the focus never rests on a control that is dimmed or
// hidden. A null `widget` gives it to the window.
void give_keyboard_focus(GtkWidget* window, GtkWidget* widget);

#endif  // QXR8_APP_ACCESSIBILITY_H_
