#include "accounts/glib_posix.h"

#include <cstring>

#include "accounts/vault.h"
#include "core/text.h"

namespace {
// UTF-16 units per field, as the vault and the Windows dialog count them: a character outside
// the basic plane takes two.
constexpr size_t FIELD_LIMIT = 255;

size_t utf16_units_of(unsigned char lead) { return lead >= 0xF0 ? 2 : 1; }

// Text typed or pasted into a field is cut at the last whole character that fits, as the
// Windows dialog's fields cut it; nothing fitting rings the bell.
void limit_insertion(GtkEditable* editable, const gchar* text, gint length, gint* position, gpointer data) {
  size_t bytes = length < 0 ? strlen(text) : static_cast<size_t>(length);
  size_t used = 0;
  for (const char* at = gtk_entry_get_text(GTK_ENTRY(editable)); *at != '\0'; ++at) {
    if ((*at & 0xC0) != 0x80) used += utf16_units_of(static_cast<unsigned char>(*at));
  }
  size_t keep = 0;
  while (keep < bytes) {
    used += utf16_units_of(static_cast<unsigned char>(text[keep]));
    if (used > FIELD_LIMIT) break;
    ++keep;
    while (keep < bytes && (text[keep] & 0xC0) == 0x80) ++keep;
  }
  if (keep == bytes) return;
  g_signal_stop_emission_by_name(editable, "insert-text");
  if (keep == 0) {
    gtk_widget_error_bell(GTK_WIDGET(editable));
    return;
  }
  g_signal_handlers_block_by_func(editable, reinterpret_cast<gpointer>(limit_insertion), data);
  gtk_editable_insert_text(editable, text, static_cast<gint>(keep), position);
  g_signal_handlers_unblock_by_func(editable, reinterpret_cast<gpointer>(limit_insertion), data);
}

GtkWidget* add_field(GtkGrid* grid, int row, const char* label_text, bool hidden) {
  GtkWidget* label = gtk_label_new(label_text);
  gtk_widget_set_halign(label, GTK_ALIGN_START);
  GtkWidget* entry = gtk_entry_new();
  g_signal_connect(entry, "insert-text", G_CALLBACK(limit_insertion), nullptr);
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

// The launcher's window, to keep the dialog above it: the one visible ordinary top-level
// window (pop-up menus and closed boxes are not).
GtkWindow* launcher_toplevel() {
  GtkWindow* found = nullptr;
  GList* toplevels = gtk_window_list_toplevels();
  for (GList* at = toplevels; at != nullptr && found == nullptr; at = at->next) {
    GtkWindow* window = GTK_WINDOW(at->data);
    if (gtk_widget_get_visible(GTK_WIDGET(window)) && gtk_window_get_window_type(window) == GTK_WINDOW_TOPLEVEL) {
      found = window;
    }
  }
  g_list_free(toplevels);
  return found;
}
}  // namespace

// A GTK dialog with the caption, the message and two fields (login, hidden password).
int prompt_account_credentials(window_handle owner, wchar_t* login, wchar_t* password) {
  if (!gtk_init_check(nullptr, nullptr)) return 0;
  GtkWindow* parent = owner != nullptr ? launcher_toplevel() : nullptr;
  GtkWidget* dialog = gtk_dialog_new_with_buttons("Ajouter un compte Vorna380", parent, GTK_DIALOG_MODAL, "Annuler",
                                                  GTK_RESPONSE_CANCEL, "OK", GTK_RESPONSE_OK, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  gtk_window_set_position(GTK_WINDOW(dialog), parent != nullptr ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
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
