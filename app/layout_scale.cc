#include "app/layout_scale.h"

#include <pango/pangocairo.h>

#include <cmath>

namespace {
constexpr char kScaleKey[] = "qxr8-layout-scale";
constexpr double kPointsPerInch = 72.0;
}  // namespace

double desktop_text_scale(GtkWidget* widget) {
  gtk_widget_ensure_style(widget);
  const PangoFontDescription* font = gtk_widget_get_style(widget)->font_desc;
  PangoContext* context = gtk_widget_get_pango_context(widget);
  double dpi = pango_cairo_context_get_resolution(context);
  // A context without its own resolution draws at its font map's.
  if (dpi <= 0) {
    PangoFontMap* map = pango_context_get_font_map(context);
    dpi = PANGO_IS_CAIRO_FONT_MAP(map)
              ? pango_cairo_font_map_get_resolution(PANGO_CAIRO_FONT_MAP(map))
              : kReferenceDpi;
  }
  if (font == nullptr || dpi <= 0) return 1.0;
  const double size = static_cast<double>(pango_font_description_get_size(font)) / PANGO_SCALE;
  const double pixels = pango_font_description_get_size_is_absolute(font) != FALSE
                            ? size
                            : size * dpi / kPointsPerInch;
  const double referencePixels = kReferenceFontPoints * kReferenceDpi / kPointsPerInch;
  const double scale = pixels / referencePixels;
  return scale <= kReferenceTolerance ? 1.0 : scale;
}

int scale_pixels(int pixels, double scale) {
  return static_cast<int>(std::lround(pixels * scale));
}

void set_layout_scale(GtkWidget* fixed, double scale) {
  // A double does not fit in a pointer everywhere: the container keeps a
  // copy that goes with it.
  g_object_set_data_full(G_OBJECT(fixed), kScaleKey, new double(scale),
                         [](gpointer data) { delete static_cast<double*>(data); });
}

double layout_scale(GtkWidget* fixed) {
  const double* scale = static_cast<const double*>(g_object_get_data(G_OBJECT(fixed), kScaleKey));
  return scale != nullptr ? *scale : 1.0;
}

void put_scaled(GtkWidget* fixed, GtkWidget* child, int x, int y, int width, int height) {
  const double scale = layout_scale(fixed);
  if (width > 0 || height > 0) {
    gtk_widget_set_size_request(child, width > 0 ? scale_pixels(width, scale) : -1,
                                height > 0 ? scale_pixels(height, scale) : -1);
  }
  gtk_fixed_put(GTK_FIXED(fixed), child, scale_pixels(x, scale), scale_pixels(y, scale));
}

GdkPixbuf* scale_picture(GdkPixbuf* picture, double scale) {
  if (picture == nullptr || scale == 1.0) return picture;
  GdkPixbuf* grown = gdk_pixbuf_scale_simple(
      picture, scale_pixels(gdk_pixbuf_get_width(picture), scale),
      scale_pixels(gdk_pixbuf_get_height(picture), scale), GDK_INTERP_BILINEAR);
  if (grown == nullptr) return picture;  // out of memory: the picture as it is
  g_object_unref(picture);
  return grown;
}
