// Process-wide paths, the main window handle, and the small file helpers everything uses.
#pragma once

#include <cstddef>
#include <cstdint>

// Every path buffer holds 32,767 units and a terminating zero.
constexpr size_t PATH_UNITS = 32768;

#ifdef _WIN32
constexpr wchar_t PATH_SEPARATOR = L'\\';
struct HWND__;
typedef HWND__* window_handle;
extern wchar_t g_log[PATH_UNITS];  // journal file
#else
constexpr wchar_t PATH_SEPARATOR = L'/';
struct posix_window;
typedef posix_window* window_handle;
// GLib has a function of this name, which its libraries call whenever they log: the journal
// path takes another symbol name, so that those calls never land on it.
extern wchar_t g_log[PATH_UNITS] __asm__("vorna380_journal_path");  // journal file
#endif

// The launcher's own files in the root: the installed launcher, a checked update of it waiting
// to replace it, and the copy an update replaced ("Vorna380-Launcher.exe", ".update.exe",
// ".previous.exe"; on Linux "vorna380-launcher", ".update", ".previous").
extern const wchar_t k_installed_launcher_name[];
extern const wchar_t k_launcher_update_name[];
extern const wchar_t k_previous_launcher_name[];

extern wchar_t g_root[PATH_UNITS];    // launcher root folder
extern wchar_t g_client[PATH_UNITS];  // active client folder
extern window_handle g_window;        // main window, null until it exists

// Folder, separator (unless the folder already ends in one) and name, cut at 32,767 units.
// The output must not overlap the inputs.
void join_path(wchar_t* output, const wchar_t* folder, const wchar_t* name);

// Creates the folder and every missing folder above it. 1 when the path exists afterwards.
int ensure_directory(const wchar_t* path);

// Whole file plus one added zero byte, in a malloc'd buffer the caller frees; null when the
// file cannot be opened or read, is empty, or is larger than limit bytes. Like every file the
// launcher reads, it must be a regular file: a link, a folder, a device, a pipe or a socket
// at the path counts as missing, and none of them is waited for.
char* read_file(const wchar_t* path, uint32_t limit, uint32_t* length);

// Turns the separator of the other platform into this one's, in place.
void to_native_separators(wchar_t* path);

// 1 for this platform's separator; on Windows for a forward slash too.
int is_path_separator(wchar_t c);

// Length of the folder part of path: the index of its last separator, 0 when it has none.
size_t folder_part_length(const wchar_t* path);

// 1 when one path element (length units, not terminated) is a Windows device name: CON, PRN,
// AUX, NUL, CONIN$, CONOUT$, COM0-COM9, LPT0-LPT9 (and COM/LPT with a superscript 1-3), in
// any letter case, alone or followed by an extension or spaces. Such a name opens a device
// on Windows, so both builds treat it as a missing file.
int is_device_name(const wchar_t* element, size_t length);
// 1 when an element of path after its first `from` units is a device name.
int has_device_name(const wchar_t* path, size_t from);
