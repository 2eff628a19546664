#include "accounts/glib_posix.h"

#include <cstring>

#include "accounts/vault.h"
#include "core/system_path_posix.h"
#include "core/text.h"

namespace {
constexpr int FIELD_LIMIT = 255;  // characters per field

GtkWidget* add_field(GtkGrid* grid, int row, const char* label_text, bool hidden) {
  GtkWidget* label = gtk_label_new(label_text);
  gtk_widget_set_halign(label, GTK_ALIGN_START);
  GtkWidget* entry = gtk_entry_new();
  gtk_entry_set_max_length(GTK_ENTRY(entry), FIELD_LIMIT);
  gtk_entry_set_visibility(GTK_ENTRY(entry), hidden ? FALSE : TRUE);
  gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
  gtk_widget_set_hexpand(entry, TRUE);
  gtk_grid_attach(grid, label, 0, row, 1, 1);
  gtk_grid_attach(grid, entry, 1, row, 1, 1);
  return entry;
}

// The field's text into output (at most 255 units and the terminator).
void take_field(GtkWidget* entry, wchar_t* output) {
  const char* text = gtk_entry_get_text(GTK_ENTRY(entry));
  size_t bytes = strlen(text);
  size_t units = bytes == 0 ? 0 : utf8_to_wide(text, bytes, output, FIELD_LIMIT);
  output[units] = L'\0';
}

struct menu_choice {
  unsigned id;
  GMainLoop* loop;
};

void on_item_activate(GtkMenuItem* item, gpointer data) {
  static_cast<menu_choice*>(data)->id = GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(item), "vorna380-id"));
}

void on_menu_done(GtkMenuShell*, gpointer data) { g_main_loop_quit(static_cast<menu_choice*>(data)->loop); }
}  // namespace

// A GTK dialog with the caption, the message and two fields (login, hidden password).
int prompt_account_credentials(window_handle, wchar_t* login, wchar_t* password) {
  if (!gtk_init_check(nullptr, nullptr)) return 0;
  GtkWidget* dialog = gtk_dialog_new_with_buttons("Ajouter un compte Vorna380", nullptr, GTK_DIALOG_MODAL, "Annuler",
                                                  GTK_RESPONSE_CANCEL, "OK", GTK_RESPONSE_OK, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
  GtkWidget* box = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
  gtk_container_set_border_width(GTK_CONTAINER(box), 12);
  gtk_box_set_spacing(GTK_BOX(box), 10);
  GtkWidget* message = gtk_label_new("Le mot de passe est chiffre et protege par Windows pour cet utilisateur.");
  gtk_label_set_line_wrap(GTK_LABEL(message), TRUE);
  gtk_box_pack_start(GTK_BOX(box), message, FALSE, FALSE, 0);
  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 10);
  gtk_box_pack_start(GTK_BOX(box), grid, FALSE, FALSE, 0);
  GtkWidget* login_entry = add_field(GTK_GRID(grid), 0, "Identifiant", false);
  GtkWidget* password_entry = add_field(GTK_GRID(grid), 1, "Mot de passe", true);
  gtk_widget_show_all(dialog);

  int confirmed = gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_OK;
  if (confirmed) {
    take_field(login_entry, login);
    take_field(password_entry, password);
  }
  // The entry's buffer overwrites the text it lets go of.
  gtk_entry_set_text(GTK_ENTRY(password_entry), "");
  gtk_widget_destroy(dialog);
  while (gtk_events_pending()) gtk_main_iteration();
  return confirmed;
}

unsigned popup_account_menu(window_handle, const account_menu_item* items, int count) {
  if (!gtk_init_check(nullptr, nullptr)) return 0;
  menu_choice choice = {0, g_main_loop_new(nullptr, FALSE)};
  GtkWidget* menu = gtk_menu_new();
  for (int i = 0; i < count; ++i) {
    GtkWidget* entry;
    if (items[i].flags & ACCOUNT_ITEM_SEPARATOR) {
      entry = gtk_separator_menu_item_new();
    } else {
      utf8_path label(items[i].text);
      const char* text = label.text != nullptr ? label.text : "";
      entry = (items[i].flags & ACCOUNT_ITEM_CHECKED) ? gtk_check_menu_item_new_with_label(text)
                                                      : gtk_menu_item_new_with_label(text);
      if (items[i].flags & ACCOUNT_ITEM_CHECKED) gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(entry), TRUE);
      if (items[i].flags & ACCOUNT_ITEM_GRAYED) gtk_widget_set_sensitive(entry, FALSE);
      g_object_set_data(G_OBJECT(entry), "vorna380-id", GUINT_TO_POINTER(items[i].id));
      g_signal_connect(entry, "activate", G_CALLBACK(on_item_activate), &choice);
    }
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), entry);
  }
  g_signal_connect(menu, "deactivate", G_CALLBACK(on_menu_done), &choice);
  gtk_widget_show_all(menu);
  gtk_menu_popup_at_pointer(GTK_MENU(menu), nullptr);
  if (gtk_widget_get_visible(menu)) g_main_loop_run(choice.loop);
  gtk_widget_destroy(menu);
  g_main_loop_unref(choice.loop);
  return choice.id;
}
