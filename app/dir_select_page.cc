#include "app/dir_select_page.h"

#include "app/accessibility.h"
#include "app/button_label_fit.h"
#include "app/layout_scale.h"
#include "app/ui_text.h"
#include "platform/system_path.h"
#include "platform/utf8.h"
#include "res/string_table.h"

namespace {

constexpr int kCatalogLabelX = 170;
constexpr int kCatalogLabelY = 255;
constexpr int kEntryX = 170;
constexpr int kEntryY = 275;
constexpr int kEntryWidth = 280;
constexpr int kEntryHeight = 30;
constexpr int kBrowseX = 460;
constexpr int kBrowseY = 275;
constexpr int kBrowseSize = 30;

// GTK's "clicked" wants a void handler; the page's contract returns 0.
void on_browse_clicked(GtkWidget* widget, gpointer page) { button_clicked_handler(widget, page); }

}  // namespace

DirSelectPage::DirSelectPage(GtkWidget* parent, GdkPixbuf* picture)
    : WizardDialogPage(parent),
      image(nullptr),
      entry(nullptr),
      promptLabel(nullptr),
      catalogLabel(nullptr),
      browseButton(nullptr) {
  image = gtk_image_new_from_pixbuf(picture);
  widgets.push_back(image);
  gtk_container_add(GTK_CONTAINER(parent), image);

  promptLabel = createMainAreaLabel(parent);
  widgets.push_back(promptLabel);
  gtk_label_set_text(GTK_LABEL(promptLabel),
                     to_ui_text(LoadResString("IDS_DESTINATION_PROMPT")).c_str());

  catalogLabel = gtk_label_new(to_ui_text(LoadResString("IDS_TEMPLATE_CATALOG")).c_str());
  widgets.push_back(catalogLabel);
  put_scaled(parent, catalogLabel, kCatalogLabelX, kCatalogLabelY);

  entry = gtk_entry_new();
  widgets.push_back(entry);
  put_scaled(parent, entry, kEntryX, kEntryY, kEntryWidth, kEntryHeight);
  // A screen reader names the field after its caption, and Return in it
  // does what Next does (Next is the window's default button).
  set_label_for(catalogLabel, entry);
  gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);

  browseButton = gtk_button_new_with_label("...");
  widgets.push_back(browseButton);
  put_scaled(parent, browseButton, kBrowseX, kBrowseY, kBrowseSize, kBrowseSize);
  fit_button_label(browseButton);
  // "..." says nothing read aloud, nor to a new user at first sight.
  const std::string chooseText = to_ui_text(LoadResString("IDS_CHOOSEDIR_TITLE"));
  set_accessible_name(browseButton, chooseText);
  gtk_widget_set_tooltip_text(browseButton, chooseText.c_str());
  g_signal_connect(browseButton, "clicked", G_CALLBACK(on_browse_clicked), this);
}

void DirSelectPage::setPath(const wstring& path) {
  const std::string text = path_to_ui_text(path);
  setPath(text);
  m_shownPath = path;
  m_shownText = text;
}

void DirSelectPage::setPath(const std::string& path) {
  gtk_entry_set_text(GTK_ENTRY(entry), path.c_str());
  m_shownPath.clear();
  m_shownText.clear();
}

wstring DirSelectPage::getPath() const {
  const gchar* text = gtk_entry_get_text(GTK_ENTRY(entry));
  if (text == nullptr) return wstring();
  if (!m_shownPath.empty() && m_shownText == text) return m_shownPath;
  return utf8_to_wide(text);
}

void DirSelectPage::showDirDialog() {
  // Transient for the wizard like every box, so that a click on the wizard
  // cannot hide the modal chooser behind it.
  GtkWidget* toplevel = gtk_widget_get_toplevel(parent);
  GtkWindow* owner = gtk_widget_is_toplevel(toplevel) ? GTK_WINDOW(toplevel) : nullptr;
  GtkWidget* chooser = gtk_file_chooser_dialog_new(
      nullptr, owner, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "gtk-cancel", GTK_RESPONSE_CANCEL,
      "gtk-open", GTK_RESPONSE_ACCEPT, static_cast<const char*>(nullptr));
  gtk_window_set_modal(GTK_WINDOW(chooser), TRUE);
  if (owner != nullptr) gtk_window_set_position(GTK_WINDOW(chooser), GTK_WIN_POS_CENTER_ON_PARENT);
  if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
    gchar* folder = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
    if (folder != nullptr) {
      // The chooser's name is the folder's bytes on the disk.
      setPath(from_system_path(folder));
      g_free(folder);
    }
  }
  gtk_widget_destroy(chooser);
}

int button_clicked_handler(GtkWidget* /*widget*/, void* page) {
  if (page != nullptr) static_cast<DirSelectPage*>(page)->showDirDialog();
  return 0;
}
