#include <windows.h>
#include <wincred.h>

#include <cstdlib>
#include <cwchar>

#include "accounts/vault.h"
#include "accounts/wipe.h"

namespace {
// The stored passwords come back with every read and enumeration; they are wiped before the
// vault's buffers are released.
void wipe_and_free(PCREDENTIALW* credentials, DWORD count) {
  for (DWORD i = 0; i < count; ++i) {
    if (credentials[i]->CredentialBlob != nullptr) {
      wipe_memory(credentials[i]->CredentialBlob, credentials[i]->CredentialBlobSize);
    }
  }
  CredFree(credentials);
}
}  // namespace

int vault_write(const wchar_t* target, const wchar_t* login, const wchar_t* password) {
  CREDENTIALW credential = {};
  credential.Flags = 0;
  credential.Type = CRED_TYPE_GENERIC;
  credential.TargetName = const_cast<wchar_t*>(target);
  credential.CredentialBlobSize = static_cast<DWORD>(wcslen(password) * sizeof(wchar_t));
  credential.CredentialBlob = reinterpret_cast<BYTE*>(const_cast<wchar_t*>(password));
  credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
  credential.UserName = const_cast<wchar_t*>(login);
  return CredWriteW(&credential, 0) != FALSE;
}

int vault_read(const wchar_t* target, vault_credential* credential) {
  PCREDENTIALW found = nullptr;
  if (!CredReadW(target, CRED_TYPE_GENERIC, 0, &found)) return 0;
  credential->user_name = found->UserName != nullptr ? found->UserName : L"";
  credential->blob = found->CredentialBlob;
  credential->blob_size = found->CredentialBlobSize;
  credential->platform = found;
  return 1;
}

void vault_release(vault_credential* credential) {
  PCREDENTIALW found = static_cast<PCREDENTIALW>(credential->platform);
  if (found != nullptr) wipe_and_free(&found, 1);
  *credential = {nullptr, nullptr, 0, nullptr};
}

int vault_enumerate(vault_list* list) {
  *list = {0, nullptr, nullptr};
  DWORD count = 0;
  PCREDENTIALW* credentials = nullptr;
  if (!CredEnumerateW(L"Vorna380/account/*", 0, &count, &credentials)) return 0;
  const wchar_t** names = static_cast<const wchar_t**>(calloc(count + 1, sizeof(wchar_t*)));
  if (names == nullptr) {
    wipe_and_free(credentials, count);
    return 0;
  }
  for (DWORD i = 0; i < count; ++i) names[i] = credentials[i]->UserName != nullptr ? credentials[i]->UserName : L"";
  *list = {count, names, credentials};
  return 1;
}

void vault_list_release(vault_list* list) {
  if (list->platform != nullptr) wipe_and_free(static_cast<PCREDENTIALW*>(list->platform), list->count);
  free(list->user_names);
  *list = {0, nullptr, nullptr};
}

int vault_delete(const wchar_t* target) { return CredDeleteW(target, CRED_TYPE_GENERIC, 0) != FALSE; }
