#include "app/artwork.h"

#include "app/art/icon.xpm"
#include "app/art/side.xpm"

// gdk_pixbuf_new_from_xpm_data only reads the strings; its parameter type
// predates const correctness.
const char** window_icon_xpm() { return const_cast<const char**>(qxr8_icon_xpm); }
const char** side_picture_xpm() { return const_cast<const char**>(qxr8_side_xpm); }
