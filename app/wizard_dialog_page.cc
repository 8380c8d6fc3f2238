#include "app/wizard_dialog_page.h"

GtkWidget* createMainAreaLabel(GtkWidget* parent) {
  GtkWidget* label = gtk_label_new(nullptr);
  gtk_widget_set_size_request(label, kMainAreaWidth, kMainAreaHeight);
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_misc_set_alignment(GTK_MISC(label), 0.0f, 0.0f);
  gtk_fixed_put(GTK_FIXED(parent), label, kMainAreaX, kMainAreaY);
  return label;
}
