#include "accounts/accounts.h"

#include "core/text.h"

wchar_t g_selected_account[ACCOUNT_NAME_UNITS];

void account_target(const wchar_t* login, wchar_t target[ACCOUNT_TARGET_UNITS]) {
  target[0] = L'\0';
  text_builder builder{target, ACCOUNT_TARGET_UNITS, 0};
  builder_append(&builder, L"Vorna380/account/");
  builder_append(&builder, login);
}
