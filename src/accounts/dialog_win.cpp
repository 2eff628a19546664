#include <windows.h>
#include <wincred.h>

#include "accounts/vault.h"

int prompt_account_credentials(window_handle owner, wchar_t* login, wchar_t* password) {
  CREDUI_INFOW info = {};
  info.cbSize = sizeof info;
  info.hwndParent = owner;
  info.pszMessageText = L"Le mot de passe est chiffre et protege par Windows pour cet utilisateur.";
  info.pszCaptionText = L"Ajouter un compte Vorna380";
  info.hbmBanner = nullptr;
  BOOL save = TRUE;
  DWORD flags = CREDUI_FLAGS_GENERIC_CREDENTIALS | CREDUI_FLAGS_ALWAYS_SHOW_UI | CREDUI_FLAGS_DO_NOT_PERSIST;
  DWORD result = CredUIPromptForCredentialsW(&info, L"Vorna380", nullptr, 0, login, 256, password, 256, &save, flags);
  return result == NO_ERROR;
}

unsigned popup_account_menu(window_handle owner, const account_menu_item* items, int count) {
  HMENU menu = CreatePopupMenu();
  if (menu == nullptr) return 0;
  for (int i = 0; i < count; ++i) {
    if (items[i].flags & ACCOUNT_ITEM_SEPARATOR) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      continue;
    }
    UINT flags = MF_STRING;
    if (items[i].flags & ACCOUNT_ITEM_CHECKED) flags |= MF_CHECKED;
    if (items[i].flags & ACCOUNT_ITEM_GRAYED) flags |= MF_GRAYED;
    AppendMenuW(menu, flags, items[i].id, items[i].text);
  }
  POINT cursor = {};
  GetCursorPos(&cursor);
  unsigned chosen = static_cast<unsigned>(
      TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, owner, nullptr));
  DestroyMenu(menu);
  return chosen;
}
