// The vault is the user's Secret Service keyring (default collection). Where no service
// answers, or the keyring is missing or locked, every operation fails at once: nothing here
// ever asks the service to prompt the user.
#include "accounts/glib_posix.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "accounts/utf16le.h"
#include "accounts/vault.h"
#include "accounts/wipe.h"
#include "core/system_path_posix.h"
#include "core/text.h"

namespace {
const char k_target_prefix[] = "Vorna380/account/";

const SecretSchema* account_schema() {
  static SecretSchema schema;
  if (schema.name == nullptr) {
    schema.attributes[0] = {"target", SECRET_SCHEMA_ATTRIBUTE_STRING};
    schema.attributes[1] = {"login", SECRET_SCHEMA_ATTRIBUTE_STRING};
    schema.flags = SECRET_SCHEMA_NONE;
    schema.name = "org.vorna380.Account";
  }
  return &schema;
}

// The default collection when the service answers and it is unlocked, else null.
SecretCollection* open_default_collection() {
  GError* error = nullptr;
  SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
  g_clear_error(&error);
  if (service == nullptr) return nullptr;
  SecretCollection* collection =
      secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error);
  g_clear_error(&error);
  g_object_unref(service);
  if (collection != nullptr && secret_collection_get_locked(collection)) {
    g_object_unref(collection);
    collection = nullptr;
  }
  return collection;
}

// Items of the collection with the target (all of the launcher's items when target is null).
GList* find_items(SecretCollection* collection, const char* target, SecretSearchFlags flags) {
  GHashTable* attributes = target != nullptr ? secret_attributes_build(account_schema(), "target", target, nullptr)
                                             : secret_attributes_build(account_schema(), nullptr);
  GError* error = nullptr;
  GList* items = secret_collection_search_sync(collection, account_schema(), attributes, flags, nullptr, &error);
  g_clear_error(&error);
  g_hash_table_unref(attributes);
  return items;
}

// An attribute of the item as a malloc'd wide string (empty when missing), or null.
wchar_t* item_attribute(SecretItem* item, const char* name) {
  GHashTable* attributes = secret_item_get_attributes(item);
  const char* value = attributes != nullptr ? static_cast<const char*>(g_hash_table_lookup(attributes, name)) : nullptr;
  if (value == nullptr) value = "";
  size_t bytes = strlen(value);
  wchar_t* text = static_cast<wchar_t*>(malloc((bytes + 1) * sizeof(wchar_t)));
  if (text != nullptr) text[bytes == 0 ? 0 : utf8_to_wide(value, bytes, text, bytes)] = L'\0';
  if (attributes != nullptr) g_hash_table_unref(attributes);
  return text;
}

bool has_launcher_target(SecretItem* item) {
  GHashTable* attributes = secret_item_get_attributes(item);
  const char* target =
      attributes != nullptr ? static_cast<const char*>(g_hash_table_lookup(attributes, "target")) : nullptr;
  bool ours = target != nullptr && strncmp(target, k_target_prefix, sizeof k_target_prefix - 1) == 0;
  if (attributes != nullptr) g_hash_table_unref(attributes);
  return ours;
}

// Password blobs handed to the library carry their size in front, so that they can be wiped
// when the library lets go of them.
char* new_blob(size_t size) {
  char* block = static_cast<char*>(malloc(sizeof(size_t) + (size == 0 ? 1 : size)));
  if (block == nullptr) return nullptr;
  memcpy(block, &size, sizeof size);
  return block + sizeof(size_t);
}

void wipe_blob(gpointer data) {
  char* block = static_cast<char*>(data) - sizeof(size_t);
  size_t size;
  memcpy(&size, block, sizeof size);
  wipe_memory(block, sizeof(size_t) + size);
  free(block);
}

struct read_entry {
  SecretItem* item;
  SecretValue* value;
  wchar_t* user_name;
};
}  // namespace

int vault_write(const wchar_t* target, const wchar_t* login, const wchar_t* password) {
  utf8_path target_text(target);
  utf8_path login_text(login);
  if (!target_text.ok() || !login_text.ok()) return 0;
  size_t units = wcslen(password);
  char* blob = new_blob(units * 4);
  if (blob == nullptr) return 0;
  size_t size = text_to_utf16le(password, units, reinterpret_cast<unsigned char*>(blob), units * 4);
  memcpy(blob - sizeof(size_t), &size, sizeof size);
  SecretValue* value = secret_value_new_full(blob, static_cast<gssize>(size), "application/octet-stream", wipe_blob);

  SecretCollection* collection = open_default_collection();
  SecretItem* item = nullptr;
  if (collection != nullptr) {
    GHashTable* attributes =
        secret_attributes_build(account_schema(), "target", target_text.text, "login", login_text.text, nullptr);
    GError* error = nullptr;
    item = secret_item_create_sync(collection, account_schema(), attributes, target_text.text, value,
                                   SECRET_ITEM_CREATE_REPLACE, nullptr, &error);
    g_clear_error(&error);
    g_hash_table_unref(attributes);
    g_object_unref(collection);
  }
  secret_value_unref(value);
  if (item == nullptr) return 0;
  g_object_unref(item);
  return 1;
}

int vault_read(const wchar_t* target, vault_credential* credential) {
  *credential = {nullptr, nullptr, 0, nullptr};
  utf8_path target_text(target);
  if (!target_text.ok()) return 0;
  SecretCollection* collection = open_default_collection();
  if (collection == nullptr) return 0;
  GList* items = find_items(collection, target_text.text, SECRET_SEARCH_LOAD_SECRETS);
  g_object_unref(collection);

  read_entry* entry = nullptr;
  if (items != nullptr) {
    SecretItem* item = SECRET_ITEM(items->data);
    SecretValue* value = secret_item_get_secret(item);
    wchar_t* user_name = value != nullptr ? item_attribute(item, "login") : nullptr;
    entry = user_name != nullptr ? static_cast<read_entry*>(malloc(sizeof(read_entry))) : nullptr;
    if (entry != nullptr) {
      *entry = {SECRET_ITEM(g_object_ref(item)), value, user_name};
      gsize size = 0;
      credential->blob = reinterpret_cast<const unsigned char*>(secret_value_get(value, &size));
      credential->blob_size = static_cast<uint32_t>(size > 0xFFFFFFFFu ? 0xFFFFFFFFu : size);
      credential->user_name = user_name;
      credential->platform = entry;
    } else {
      free(user_name);
      if (value != nullptr) secret_value_unref(value);
    }
  }
  g_list_free_full(items, g_object_unref);
  return entry != nullptr;
}

void vault_release(vault_credential* credential) {
  read_entry* entry = static_cast<read_entry*>(credential->platform);
  if (entry != nullptr) {
    gsize size = 0;
    const char* bytes = secret_value_get(entry->value, &size);
    wipe_memory(const_cast<char*>(bytes), size);
    secret_value_unref(entry->value);
    g_object_unref(entry->item);
    free(entry->user_name);
    free(entry);
  }
  *credential = {nullptr, nullptr, 0, nullptr};
}

int vault_enumerate(vault_list* list) {
  *list = {0, nullptr, nullptr};
  SecretCollection* collection = open_default_collection();
  if (collection == nullptr) return 0;
  GList* items = find_items(collection, nullptr, SECRET_SEARCH_ALL);
  g_object_unref(collection);
  guint found = g_list_length(items);
  const wchar_t** names = static_cast<const wchar_t**>(calloc(found + 1, sizeof(wchar_t*)));
  uint32_t count = 0;
  for (GList* at = items; names != nullptr && at != nullptr; at = at->next) {
    SecretItem* item = SECRET_ITEM(at->data);
    if (!has_launcher_target(item)) continue;
    wchar_t* name = item_attribute(item, "login");
    if (name != nullptr) names[count++] = name;
  }
  g_list_free_full(items, g_object_unref);
  if (names == nullptr) return 0;
  *list = {count, names, nullptr};
  return 1;
}

void vault_list_release(vault_list* list) {
  for (uint32_t i = 0; list->user_names != nullptr && i < list->count; ++i) {
    free(const_cast<wchar_t*>(list->user_names[i]));
  }
  free(list->user_names);
  *list = {0, nullptr, nullptr};
}

int vault_delete(const wchar_t* target) {
  utf8_path target_text(target);
  if (!target_text.ok()) return 0;
  SecretCollection* collection = open_default_collection();
  if (collection == nullptr) return 0;
  GList* items = find_items(collection, target_text.text, SECRET_SEARCH_ALL);
  g_object_unref(collection);
  int deleted = 0;
  for (GList* at = items; at != nullptr; at = at->next) {
    GError* error = nullptr;
    if (secret_item_delete_sync(SECRET_ITEM(at->data), nullptr, &error)) deleted = 1;
    g_clear_error(&error);
  }
  g_list_free_full(items, g_object_unref);
  return deleted;
}
