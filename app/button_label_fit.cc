#include "app/button_label_fit.h"

#include <pango/pango.h>

namespace {

constexpr int kHalfPoint = PANGO_SCALE / 2;

// The pixel width of `label`'s text when drawn with `font`.
int text_width(GtkWidget* label, const PangoFontDescription* font) {
  PangoLayout* layout = gtk_widget_create_pango_layout(label, gtk_label_get_text(GTK_LABEL(label)));
  pango_layout_set_font_description(layout, font);
  int width = 0;
  pango_layout_get_pixel_size(layout, &width, nullptr);
  g_object_unref(layout);
  return width;
}

}  // namespace

int button_inside_width(GtkWidget* button) {
  gtk_widget_ensure_style(button);
  int width = 0;
  gtk_widget_get_size_request(button, &width, nullptr);
  if (width <= 0) {
    GtkAllocation allocation;
    gtk_widget_get_allocation(button, &allocation);
    width = allocation.width;
  }
  GtkBorder* inner = nullptr;
  GtkBorder* defaultBorder = nullptr;
  int focusWidth = 0;
  int focusPad = 0;
  gtk_widget_style_get(button, "inner-border", &inner, "default-border", &defaultBorder,
                       "focus-line-width", &focusWidth, "focus-padding", &focusPad, nullptr);
  // The same subtractions as GtkButton's own allocation of its child.
  width -= 2 * static_cast<int>(gtk_container_get_border_width(GTK_CONTAINER(button)));
  width -= 2 * gtk_widget_get_style(button)->xthickness;
  width -= inner != nullptr ? inner->left + inner->right : 2;  // GTK's default inner border is 1
  if (gtk_widget_get_can_default(button)) {
    width -= defaultBorder != nullptr ? defaultBorder->left + defaultBorder->right : 2;
  }
  if (gtk_widget_get_can_focus(button)) width -= 2 * (focusWidth + focusPad);
  if (inner != nullptr) gtk_border_free(inner);
  if (defaultBorder != nullptr) gtk_border_free(defaultBorder);
  return width > 1 ? width : 1;
}

void fit_button_label(GtkWidget* button) {
  GtkWidget* label = gtk_bin_get_child(GTK_BIN(button));
  if (label == nullptr || !GTK_IS_LABEL(label)) return;
  // Back to the theme's font first: a label that fits needs no override,
  // and the search starts from the font the user chose for the desktop.
  gtk_widget_modify_font(label, nullptr);
  gtk_widget_ensure_style(label);
  int xpad = 0;
  gtk_misc_get_padding(GTK_MISC(label), &xpad, nullptr);
  const int room = button_inside_width(button) - 2 * xpad;

  PangoFontDescription* font = pango_font_description_copy(gtk_widget_get_style(label)->font_desc);
  if (text_width(label, font) > room) {
    // A theme may give its size in device units rather than points; the
    // floor is then the pixel size of 7 pt on this screen.
    const bool absolute = pango_font_description_get_size_is_absolute(font) != FALSE;
    int floor = static_cast<int>(kMinButtonFontPoints * PANGO_SCALE);
    if (absolute) {
      const double dpi = gdk_screen_get_resolution(gtk_widget_get_screen(label));
      floor = static_cast<int>(floor * (dpi > 0 ? dpi : 96.0) / 72.0);
    }
    int size = pango_font_description_get_size(font);
    while (size > floor) {
      size = size - kHalfPoint > floor ? size - kHalfPoint : floor;
      if (absolute) {
        pango_font_description_set_absolute_size(font, size);
      } else {
        pango_font_description_set_size(font, size);
      }
      if (text_width(label, font) <= room) break;
    }
    gtk_widget_modify_font(label, font);
  }
  pango_font_description_free(font);
}
