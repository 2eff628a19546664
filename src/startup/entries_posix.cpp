// The Linux port's desktop entry: $XDG_DATA_HOME/applications/vorna380-launcher.desktop, which
// starts the installed launcher and, as its action, the uninstall; and the launcher's icon in
// the user's hicolor theme at the usual sizes (16 to 256 pixels, from the art). Each file is
// written again when it differs from what it should be, through a temporary file moved over it.
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "core/journal.h"
#include "core/os.h"
#include "core/paths.h"
#include "core/system_path_posix.h"
#include "core/text.h"
#include "startup/entries_posix.h"
#include "startup/platform.h"
#include "ui/window.h"

#define EMBED_ICON(size)                                                                                \
  asm(".section .rodata\n.balign 16\n.global vorna380_icon_" #size "\nvorna380_icon_" #size ":\n.incbin \"" \
      ICON_ART_DIR "/icon-" #size ".png\"\n.global vorna380_icon_" #size "_end\nvorna380_icon_" #size       \
      "_end:\n.previous\n");                                                                           \
  extern "C" const unsigned char vorna380_icon_##size[], vorna380_icon_##size##_end[];
EMBED_ICON(16)
EMBED_ICON(24)
EMBED_ICON(32)
EMBED_ICON(48)
EMBED_ICON(64)
EMBED_ICON(128)
EMBED_ICON(256)

namespace {
constexpr size_t ENTRY_BYTES = 16384;

struct icon {
  const char* folder;  // below icons/hicolor
  const unsigned char* begin;
  const unsigned char* end;
};
#define ICON_ROW(size) {#size "x" #size, vorna380_icon_##size, vorna380_icon_##size##_end}
const icon k_icons[] = {ICON_ROW(16), ICON_ROW(24), ICON_ROW(32), ICON_ROW(48), ICON_ROW(64), ICON_ROW(128), ICON_ROW(256)};
#undef ICON_ROW

// $XDG_DATA_HOME/relative (or ~/.local/share/relative) in UTF-8; 0 when it does not fit.
// The wide paths are static: the entries are written on the main thread alone, and a path's
// units are too many for its stack.
wchar_t s_folder[PATH_UNITS];
wchar_t s_wide[PATH_UNITS];

int data_path(char* path, size_t size, const char* relative) {
  wchar_t* folder = s_folder;
  if (!user_data_folder(folder)) return 0;
  utf8_path native(folder);
  return native.ok() && snprintf(path, size, "%s/%s", native.text, relative) < static_cast<int>(size);
}

// Makes every missing folder above path.
int make_parents(const char* path) {
  char folder[4096];
  if (snprintf(folder, sizeof folder, "%s", path) >= static_cast<int>(sizeof folder)) return 0;
  for (char* slash = strchr(folder + 1, '/'); slash != nullptr; slash = strchr(slash + 1, '/')) {
    *slash = '\0';
    if (mkdir(folder, 0755) != 0 && errno != EEXIST) return 0;
    *slash = '/';
  }
  return 1;
}

// Writes the bytes at path unless it holds them already.
int write_if_different(const char* path, const void* bytes, size_t count) {
  wchar_t* wide = s_wide;
  size_t units = utf8_to_wide(path, strlen(path), wide, PATH_UNITS - 1);
  if (units == 0) return 0;
  wide[units] = L'\0';
  uint32_t length = 0;
  char* now = read_file(wide, static_cast<uint32_t>(count) + 1, &length);
  bool same = now != nullptr && length == count && memcmp(now, bytes, count) == 0;
  free(now);
  if (same) return 1;
  return make_parents(path) && os_replace_file(wide, bytes, count, nullptr);
}

struct entry_text {
  char bytes[ENTRY_BYTES];
  size_t used;
  bool fits;
};
void add(entry_text* text, const char* part) {
  size_t length = strlen(part);
  if (!text->fits || length >= sizeof text->bytes - text->used) {
    text->fits = false;
    return;
  }
  memcpy(text->bytes + text->used, part, length + 1);
  text->used += length;
}
// A path as one quoted argument of Exec: inside the quotes '"', '`', '$' and '\' take a
// backslash, every backslash is then doubled as the file's strings need, and '%' is written
// "%%". A path with a control character cannot be written: 0.
int add_exec_path(entry_text* text, const char* path) {
  add(text, "\"");
  for (const char* c = path; *c != '\0'; ++c) {
    if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7F) return 0;
    char piece[8] = {*c, '\0'};
    if (*c == '"' || *c == '`' || *c == '$') snprintf(piece, sizeof piece, "\\\\%c", *c);
    if (*c == '\\') snprintf(piece, sizeof piece, "\\\\\\\\");
    if (*c == '%') snprintf(piece, sizeof piece, "%%%%");
    add(text, piece);
  }
  add(text, "\"");
  return 1;
}
// A plain string value: backslashes doubled.
int add_string(entry_text* text, const char* value) {
  for (const char* c = value; *c != '\0'; ++c) {
    if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7F) return 0;
    char piece[3] = {*c, '\0', '\0'};
    if (*c == '\\') piece[1] = '\\';
    add(text, piece);
  }
  return 1;
}

// The desktop entry for the installed launcher.
int desktop_entry(entry_text* text, const char* installed, const char* root) {
  *text = entry_text{{}, 0, true};
  add(text,
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Version=1.4\n"
      "Name=Vorna380\n"
      "GenericName=Launcher de jeu\n"
      "Comment=Installe, verifie et lance Vorna380\n"
      "Icon=" VORNA380_APPLICATION_ID "\n"
      "Exec=");
  int ok = add_exec_path(text, installed);
  add(text, "\nPath=");
  ok = ok && add_string(text, root);
  add(text,
      "\nTerminal=false\n"
      "Categories=Game;\n"
      "StartupNotify=true\n"
      "StartupWMClass=" VORNA380_APPLICATION_ID "\n"
      "Actions=uninstall;\n"
      "\n"
      "[Desktop Action uninstall]\n"
      "Name=Desinstaller Vorna380\n"
      "Exec=");
  ok = ok && add_exec_path(text, installed);
  add(text, " --uninstall\n");
  return ok && text->fits;
}

const char k_entry_path[] = "applications/" VORNA380_APPLICATION_ID ".desktop";

void icon_path(char* path, size_t size, const icon& image) {
  char relative[128];
  snprintf(relative, sizeof relative, "icons/hicolor/%s/apps/" VORNA380_APPLICATION_ID ".png", image.folder);
  if (!data_path(path, size, relative)) path[0] = '\0';
}

// Whether the entry at path starts the installed launcher (it is ours to remove).
bool entry_is_ours(const char* path, const char* installed) {
  entry_text ours;
  if (!desktop_entry(&ours, installed, "")) return false;
  const char* exec = strstr(ours.bytes, "\nExec=");
  const char* exec_end = exec != nullptr ? strchr(exec + 1, '\n') : nullptr;
  wchar_t* wide = s_wide;
  size_t units = utf8_to_wide(path, strlen(path), wide, PATH_UNITS - 1);
  if (exec_end == nullptr || units == 0) return false;
  wide[units] = L'\0';
  uint32_t length = 0;
  char* now = read_file(wide, ENTRY_BYTES, &length);
  bool ours_there = now != nullptr && memmem(now, length, exec, static_cast<size_t>(exec_end + 1 - exec)) != nullptr;
  free(now);
  return ours_there;
}
}  // namespace

size_t linux_desktop_entry(const char* installed, const char* root, char* out, size_t size) {
  entry_text text;
  if (!desktop_entry(&text, installed, root) || text.used >= size) return 0;
  memcpy(out, text.bytes, text.used + 1);
  return text.used;
}

int write_menu_entries(const wchar_t* installed, const wchar_t* root) {
  utf8_path program(installed);
  utf8_path folder(root);
  char path[4096];
  entry_text text;
  int written = program.ok() && folder.ok() && desktop_entry(&text, program.text, folder.text) &&
                data_path(path, sizeof path, k_entry_path) && write_if_different(path, text.bytes, text.used);
  if (!written) write_log(L"Entree du menu des applications impossible a ecrire.");
  for (const icon& image : k_icons) {
    icon_path(path, sizeof path, image);
    if (path[0] == '\0' || !write_if_different(path, image.begin, static_cast<size_t>(image.end - image.begin))) {
      write_log(L"Icone du launcher impossible a installer dans le theme de l'utilisateur.");
      written = 0;
    }
  }
  return written;
}

int remove_menu_entries(const wchar_t* installed) {
  utf8_path program(installed);
  char path[4096];
  int removed = 1;
  if (program.ok() && data_path(path, sizeof path, k_entry_path) && entry_is_ours(path, program.text) &&
      unlink(path) != 0 && errno != ENOENT) {
    removed = 0;
  }
  for (const icon& image : k_icons) {
    icon_path(path, sizeof path, image);
    if (path[0] != '\0' && unlink(path) != 0 && errno != ENOENT) removed = 0;
  }
  if (!removed) write_log(L"Desinstallation: une entree du menu ou une icone reste.");
  return removed;
}

int write_desktop_shortcut(const wchar_t*, const wchar_t*) { return 1; }
int remove_desktop_shortcut(const wchar_t*) { return 1; }
