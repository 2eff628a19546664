// The Windows shortcuts, as shell link objects (IShellLinkW saved through IPersistFile): in the
// user's Programs folder "Vorna380.lnk" and "Desinstaller Vorna380.lnk" (the installed launcher
// with --uninstall), and on the desktop "Vorna380.lnk". Each starts in the launcher root and
// shows the executable's icon. No registry key is written.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cwchar>

#include "core/journal.h"
#include "core/os.h"
#include "core/paths.h"
#include "startup/platform.h"

namespace {
constexpr wchar_t k_menu_link[] = L"Vorna380.lnk";
constexpr wchar_t k_uninstall_link[] = L"Desinstaller Vorna380.lnk";
constexpr wchar_t k_uninstall_arguments[] = L"--uninstall";

// COM for the calls of one scope, on this thread.
struct com_scope {
  HRESULT started = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  ~com_scope() {
    if (SUCCEEDED(started)) CoUninitialize();
  }
  bool usable() const { return SUCCEEDED(started) || started == RPC_E_CHANGED_MODE; }
};

// The link object and its file interface, released together.
struct shell_link {
  IShellLinkW* link = nullptr;
  IPersistFile* file = nullptr;
  shell_link() {
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link)))) {
      link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    }
  }
  ~shell_link() {
    if (file != nullptr) file->Release();
    if (link != nullptr) link->Release();
  }
  shell_link(const shell_link&) = delete;
  shell_link& operator=(const shell_link&) = delete;
};

// path = the known folder joined with name.
bool link_path(REFKNOWNFOLDERID folder, const wchar_t* name, wchar_t path[PATH_UNITS]) {
  PWSTR found = nullptr;
  bool ok = SUCCEEDED(SHGetKnownFolderPath(folder, KF_FLAG_CREATE, nullptr, &found)) && wcslen(found) + 2 + wcslen(name) < PATH_UNITS;
  if (ok) join_path(path, found, name);
  CoTaskMemFree(found);
  return ok;
}

// Whether the link at path starts target with these arguments.
bool link_points_at(const wchar_t* path, const wchar_t* target, const wchar_t* arguments) {
  shell_link shortcut;
  wchar_t found[MAX_PATH];
  wchar_t found_arguments[MAX_PATH];
  return shortcut.file != nullptr && SUCCEEDED(shortcut.file->Load(path, STGM_READ)) &&
         SUCCEEDED(shortcut.link->GetPath(found, MAX_PATH, nullptr, SLGP_RAWPATH)) &&
         SUCCEEDED(shortcut.link->GetArguments(found_arguments, MAX_PATH)) && lstrcmpiW(found, target) == 0 &&
         wcscmp(found_arguments, arguments) == 0;
}

bool save_link(const wchar_t* path, const wchar_t* target, const wchar_t* arguments, const wchar_t* root,
               const wchar_t* description) {
  shell_link shortcut;
  return shortcut.file != nullptr && SUCCEEDED(shortcut.link->SetPath(target)) &&
         SUCCEEDED(shortcut.link->SetArguments(arguments)) && SUCCEEDED(shortcut.link->SetWorkingDirectory(root)) &&
         SUCCEEDED(shortcut.link->SetIconLocation(target, 0)) &&
         SUCCEEDED(shortcut.link->SetDescription(description)) && SUCCEEDED(shortcut.file->Save(path, TRUE));
}

// The link in the folder, written again unless it already starts target with these arguments.
bool ensure_link(REFKNOWNFOLDERID folder, const wchar_t* name, const wchar_t* target, const wchar_t* arguments,
                 const wchar_t* root, const wchar_t* description) {
  wchar_t path[PATH_UNITS];
  if (!link_path(folder, name, path)) return false;
  if (link_points_at(path, target, arguments)) return true;
  if (save_link(path, target, arguments, root, description)) return true;
  write_log_with_path(L"Raccourci impossible a ecrire: ", path);
  return false;
}

// Removes the link when it starts the installed launcher; one that starts something else is
// not the launcher's.
bool remove_link(REFKNOWNFOLDERID folder, const wchar_t* name, const wchar_t* installed, const wchar_t* arguments) {
  wchar_t path[PATH_UNITS];
  uint64_t size = 0;
  if (!link_path(folder, name, path) || !os_file_size(path, &size)) return true;
  if (!link_points_at(path, installed, arguments)) return true;
  if (DeleteFileW(path)) return true;
  write_log_with_path(L"Raccourci impossible a supprimer: ", path);
  return false;
}
}  // namespace

int write_menu_entries(const wchar_t* installed, const wchar_t* root) {
  com_scope com;
  if (!com.usable()) return 0;
  bool menu = ensure_link(FOLDERID_Programs, k_menu_link, installed, L"", root, L"Vorna380");
  bool uninstall = ensure_link(FOLDERID_Programs, k_uninstall_link, installed, k_uninstall_arguments, root,
                               L"Desinstaller Vorna380");
  return menu && uninstall;
}

int remove_menu_entries(const wchar_t* installed) {
  com_scope com;
  if (!com.usable()) return 0;
  bool menu = remove_link(FOLDERID_Programs, k_menu_link, installed, L"");
  return remove_link(FOLDERID_Programs, k_uninstall_link, installed, k_uninstall_arguments) && menu;
}

int write_desktop_shortcut(const wchar_t* installed, const wchar_t* root) {
  com_scope com;
  return com.usable() && ensure_link(FOLDERID_Desktop, k_menu_link, installed, L"", root, L"Vorna380");
}

int remove_desktop_shortcut(const wchar_t* installed) {
  com_scope com;
  return com.usable() && remove_link(FOLDERID_Desktop, k_menu_link, installed, L"");
}
