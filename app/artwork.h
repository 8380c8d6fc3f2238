// The two pictures compiled into the program (XPM, 256 colours, two
// characters a pixel), drawn by tools/make_artwork.py.
#ifndef QXR8_APP_ARTWORK_H_
#define QXR8_APP_ARTWORK_H_

// Window icon, 256 x 256.
inline constexpr int kIconSize = 256;
// Side picture of the pages, 158 x 286; the page layout depends on it.
inline constexpr int kSidePictureWidth = 158;
inline constexpr int kSidePictureHeight = 286;

// The XPM data, in the form gdk_pixbuf_new_from_xpm_data takes. Static
// storage, never freed. Any thread.
const char** window_icon_xpm();
const char** side_picture_xpm();

#endif  // QXR8_APP_ARTWORK_H_
