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
