#include "app/accessibility.h"

#include <atk/atk.h>

void set_accessible_name(GtkWidget* widget, const std::string& name) {
  atk_object_set_name(gtk_widget_get_accessible(widget), name.c_str());
}

void set_label_for(GtkWidget* label, GtkWidget* target) {
  AtkObject* caption = gtk_widget_get_accessible(label);
  AtkObject* field = gtk_widget_get_accessible(target);
  // Adding a relation that is already there changes nothing, so a second
  // call only renames.
  atk_object_add_relationship(field, ATK_RELATION_LABELLED_BY, caption);
  atk_object_add_relationship(caption, ATK_RELATION_LABEL_FOR, field);
  atk_object_set_name(field, gtk_label_get_text(GTK_LABEL(label)));
}

void give_keyboard_focus(GtkWidget* window, GtkWidget* widget) {
  if (window == nullptr) return;
  if (widget != nullptr && gtk_widget_get_visible(widget) && gtk_widget_is_sensitive(widget) &&
      gtk_widget_get_can_focus(widget)) {
    gtk_widget_grab_focus(widget);
  } else {
    gtk_window_set_focus(GTK_WINDOW(window), nullptr);
  }
}
