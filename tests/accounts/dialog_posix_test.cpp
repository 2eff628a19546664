// The GTK account dialog on the test's display, its fields filled the way typing and pasting
// fill them (through the entry's insertion), then confirmed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "accounts/glib_posix.h"
#include "accounts/vault.h"

namespace {
typedef std::vector<std::string> insertions;
const insertions* g_fields[2];  // login, password

void collect_entries(GtkWidget* widget, gpointer found) {
  if (GTK_IS_ENTRY(widget)) static_cast<std::vector<GtkWidget*>*>(found)->push_back(widget);
  if (GTK_IS_CONTAINER(widget)) gtk_container_forall(GTK_CONTAINER(widget), collect_entries, found);
}

gboolean fill_and_confirm(gpointer) {
  GtkWidget* dialog = nullptr;
  GList* toplevels = gtk_window_list_toplevels();
  for (GList* at = toplevels; at != nullptr; at = at->next) {
    if (GTK_IS_DIALOG(at->data) && gtk_widget_get_visible(GTK_WIDGET(at->data))) dialog = GTK_WIDGET(at->data);
  }
  g_list_free(toplevels);
  if (dialog == nullptr) return G_SOURCE_CONTINUE;
  std::vector<GtkWidget*> entries;
  collect_entries(dialog, &entries);
  for (GtkWidget* entry : entries) {
    // The password is the hidden field.
    for (const std::string& text : *g_fields[gtk_entry_get_visibility(GTK_ENTRY(entry)) ? 0 : 1]) {
      gint end = gtk_entry_get_text_length(GTK_ENTRY(entry));
      gtk_editable_insert_text(GTK_EDITABLE(entry), text.c_str(), -1, &end);
    }
  }
  gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  return G_SOURCE_REMOVE;
}

std::string repeated(const std::string& text, size_t times) {
  std::string all;
  for (size_t i = 0; i < times; ++i) all += text;
  return all;
}
}  // namespace

// 255 UTF-16 units per field, as the vault keeps them: a character outside the basic plane
// counts two, and what does not fit is cut at a whole character.
TEST(AccountDialog, FieldsHoldAtMost255Utf16UnitsCutAtWholeCharacters) {
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display";
  const std::string smile = "\xF0\x9F\x98\x80";  // U+1F600
  insertions login = {std::string(254, 'a'), smile, "b", "c"};
  insertions password = {repeated(smile, 200), "b", "c"};
  g_fields[0] = &login;
  g_fields[1] = &password;
  g_timeout_add(50, fill_and_confirm, nullptr);
  wchar_t login_out[256] = {};
  wchar_t password_out[256] = {};
  ASSERT_TRUE(prompt_account_credentials(nullptr, login_out, password_out));
  EXPECT_EQ(std::wstring(login_out), std::wstring(254, L'a') + L"b");
  EXPECT_EQ(std::wstring(password_out), std::wstring(127, L'\U0001F600') + L"b");
}
