#include "app/wizard_dialog_page.h"

#include "app/layout_scale.h"

GtkWidget* createMainAreaLabel(GtkWidget* parent) {
  GtkWidget* label = gtk_label_new(nullptr);
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_misc_set_alignment(GTK_MISC(label), 0.0f, 0.0f);
  put_scaled(parent, label, kMainAreaX, kMainAreaY, kMainAreaWidth, kMainAreaHeight);
  return label;
}
