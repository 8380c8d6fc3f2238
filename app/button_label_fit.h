// Button labels that read whole in every language: the wizard's buttons
// keep their fixed sizes, and a label wider than its button's inside is
// drawn in a smaller font instead of being cut off.
#ifndef QXR8_APP_BUTTON_LABEL_FIT_H_
#define QXR8_APP_BUTTON_LABEL_FIT_H_

#include <gtk/gtk.h>

// The smallest font a label is shrunk to, in points: below it a label would
// no longer be legible, so a label that still does not fit stays at it.
inline constexpr double kMinButtonFontPoints = 7.0;

// The width, in pixels, that `button` gives its child: its size request
// (or, without one, its allocation) less its border, the theme's frame, its
// inner border, the default-button frame when it can be the default, and
// the focus line when it can take the focus. Main thread.
int button_inside_width(GtkWidget* button);

// Makes the text label of `button` fit its inside width: when the label's
// layout at the theme's font is wider than button_inside_width minus the
// label's own padding, the label's font is made smaller in half-point steps
// until it fits, but not below kMinButtonFontPoints; a label that fits keeps
// the theme's font. Call it once the button is in a window (so it has the
// theme's style), after every change of its label text (GTK makes a new
// label then) and after a change of can-default. A button without a label
// child is left alone. Main thread.
void fit_button_label(GtkWidget* button);

#endif  // QXR8_APP_BUTTON_LABEL_FIT_H_
