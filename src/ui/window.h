// The launcher window: start-up of its graphics, the window itself, and what it does with
// the pointer, its timer and the messages of the status channel.
#pragma once

#include <cstdint>

#include "core/paths.h"
#include "ui/window_calls.h"

// Message box styles and answers (the Windows values).
constexpr unsigned BOX_YES_NO = 0x4;
constexpr unsigned BOX_ERROR = 0x10;
constexpr unsigned BOX_QUESTION = 0x20;
constexpr unsigned BOX_INFORMATION = 0x40;
constexpr int BOX_ANSWER_YES = 6;

constexpr unsigned IDT_REFRESH = 210;
constexpr unsigned REFRESH_PERIOD_MS = 40;
constexpr unsigned IDM_LANG_FR = 5100;
constexpr unsigned IDM_LANG_EN = 5101;

// The Linux port's name for the desktop: its window's class, its desktop entry and its icon.
#define VORNA380_APPLICATION_ID "vorna380-launcher"
// The Windows window class, by which an uninstall finds an open launcher.
constexpr wchar_t k_launcher_window_class[] = L"Vorna380SecureLauncherWindow";

constexpr wchar_t k_graphics_failure_text[] = L"Les ressources graphiques du launcher sont invalides.";

// Start-up, in this order: graphics (GDI+ or the toolkit, the nine images, the four fonts;
// 0 is a graphics failure), then the window (g_window set, outlined, shown and painted; 0
// when it cannot be created), then the message loop until the window is destroyed.
// dispose_ui_assets releases whatever the graphics start made, also after a failure.
int start_ui_graphics();
int create_launcher_window();
void run_message_loop();
void dispose_ui_assets();
// A box without owner, caption "Vorna380", for the start-up's failures.
void show_startup_box(const wchar_t* text, unsigned style);

// The window's behaviour, called by the platform half on the UI thread. Coordinates are
// client pixels.
void on_mouse_move(int x, int y);
void on_mouse_leave();
void on_left_button_up(int x, int y);
void on_close_request();
// WM_LAUNCHER_STATUS, _ERROR, _READY and _CLOSE; texts in lparam are taken over and freed.
void on_launcher_message(unsigned message, intptr_t lparam);
