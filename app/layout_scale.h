// The wizard's layout grows with the desktop's text size. Every position
// and size of the fixed layout is given for the theme's default font, 10
// points on a screen of 96 dots per inch; when the desktop draws its text
// larger (a larger font, or a screen of higher resolution), every position,
// size and the side picture are multiplied by the same factor, so that the
// texts keep the room they have at the default font and none is cut. At the
// default font (or a smaller one) the factor is 1 and the layout is exactly
// the reference one.
//
// The factor is recorded on the window's GtkFixed, so that the pages find
// it through the container they are given. Everything here runs on the
// main thread.
#ifndef QXR8_APP_LAYOUT_SCALE_H_
#define QXR8_APP_LAYOUT_SCALE_H_

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtk/gtk.h>

// The text size the reference layout was drawn for.
inline constexpr double kReferenceFontPoints = 10.0;
inline constexpr double kReferenceDpi = 96.0;
// The reference layout has room for text a little larger than that: an X
// server without a desktop's settings works its resolution out from the
// screen's size, often near 100 dpi rather than 96, for the same desktop,
// and the layout must stay exactly as it is there.
inline constexpr double kReferenceTolerance = 1.05;

// How many times larger than the reference `widget`'s text is drawn: the
// size of its style's font (in points, or in device units) at the
// resolution of its Pango context, against 10 points at 96 dpi; 1 when that
// is at most kReferenceTolerance. `widget` need not be realised.
double desktop_text_scale(GtkWidget* widget);

// `pixels` of the reference layout multiplied by `scale`, rounded to the
// nearest pixel.
int scale_pixels(int pixels, double scale);

// Records `scale` on the container `fixed`; layout_scale reads it back (1
// for a container without one).
void set_layout_scale(GtkWidget* fixed, double scale);
double layout_scale(GtkWidget* fixed);

// Puts `child` into `fixed` at the reference position (x, y) scaled for
// `fixed`; a positive `width` or `height` becomes, scaled, the child's size
// request in that direction (the other keeps its natural size). `fixed`
// takes the child.
void put_scaled(GtkWidget* fixed, GtkWidget* child, int x, int y, int width = 0, int height = 0);

// `picture` grown by `scale`: a new pixbuf drawn smoothly at the scaled
// size, or `picture` itself when the factor is 1. Takes over the caller's
// reference to `picture` and returns one reference to the result.
GdkPixbuf* scale_picture(GdkPixbuf* picture, double scale);

#endif  // QXR8_APP_LAYOUT_SCALE_H_
