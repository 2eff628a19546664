#include "ui/window.h"

#include <cstdlib>

#include "accounts/accounts.h"
#include "core/status.h"
#include "core/text.h"
#include "ui/account_menu.h"
#include "ui/layout.h"

namespace {
constexpr size_t ERROR_BOX_UNITS = 4096;

void repaint_later() { g_window_calls->invalidate(); }

int box(const wchar_t* text, const wchar_t* caption, unsigned style) {
  return g_window_calls->message_box(text, caption, style);
}

void show_language_menu() {
  const menu_item items[] = {
      {IDM_LANG_FR, L"Francais", MENU_CHECKED},
      {IDM_LANG_EN, L"English", 0},
  };
  if (g_window_calls->popup_menu(items, 2) == IDM_LANG_EN) {
    box(L"La version anglaise sera disponible prochainement.", L"Langue", BOX_INFORMATION);
  }
}

void play_selected_account() {
  if (!queue_selected_account()) {
    box(L"Le compte selectionne est introuvable dans le coffre Windows.", L"Compte Vorna380", BOX_ERROR);
    return;
  }
  if (!launch_game()) box(L"Impossible de lancer Tarvo.exe.", L"Vorna380", BOX_ERROR);
}

void take_status_text(wchar_t* text) { copy_text(g_status_text, STATUS_UNITS, text != nullptr ? text : L""); }

void on_fatal_error(wchar_t* text) {
  take_status_text(text);
  g_ui_state = UI_STATE_ERROR;
  set_indeterminate_progress();
  repaint_later();
  g_window_calls->paint_now();
  wchar_t message[ERROR_BOX_UNITS];
  text_builder builder{message, ERROR_BOX_UNITS, 0};
  message[0] = L'\0';
  builder_append(&builder, text != nullptr ? text : L"");
  builder_append(&builder, L"\n\nJournal : ");
  builder_append(&builder, g_log);
  box(message, L"Vorna380 - securite", BOX_ERROR);
  free(text);
  g_window_calls->destroy();
}
}  // namespace

void on_mouse_move(int x, int y) {
  int close = hit_test(x, y, UI_STATE_WAIT) == HIT_CLOSE;
  int play = g_ui_state == UI_STATE_READY && hit_test(x, y, UI_STATE_READY) == HIT_PLAY;
  if (close != g_close_hover) {
    g_close_hover = close;
    repaint_later();
  }
  if (play != g_play_hover) {
    g_play_hover = play;
    repaint_later();
  }
}

void on_mouse_leave() {
  bool was_set = g_close_hover || g_play_hover;
  g_close_hover = 0;
  g_play_hover = 0;
  if (was_set) repaint_later();
}

void on_left_button_up(int x, int y) {
  switch (hit_test(x, y, g_ui_state)) {
    case HIT_CLOSE:
      on_close_request();
      break;
    case HIT_MINIMISE:
      g_window_calls->minimise();
      break;
    case HIT_PLAY:
      play_selected_account();
      break;
    case HIT_SERVER:
      box(L"Serveur 2 est selectionne.", L"Serveur", BOX_INFORMATION);
      break;
    case HIT_VERSION:
      box(L"Vorna 3.80 est selectionne.", L"Version", BOX_INFORMATION);
      break;
    case HIT_INFORMATION:
      box(L"Vorna380\nLauncher unique securise\nMises a jour, comptes et jeu dans une seule fenetre.", L"Informations",
          BOX_INFORMATION);
      break;
    case HIT_LANGUAGE:
      show_language_menu();
      break;
    case HIT_ACCOUNTS:
    case HIT_ACCOUNT_ROW:
      show_account_menu(g_window);
      break;
    case HIT_ADD_ACCOUNT:
      add_account_dialog(g_window);
      repaint_later();
      break;
    case HIT_PLAY_ACCOUNT:
      if (!queue_selected_account() || !launch_game()) {
        box(L"Impossible de lancer ce compte.", L"Vorna380", BOX_ERROR);
      }
      break;
    case HIT_REMOVE_ACCOUNT:
      remove_selected_account();
      repaint_later();
      break;
    case HIT_NOTHING:
      break;
  }
}

void on_close_request() {
  if (g_ui_state == UI_STATE_READY ||
      box(L"Arreter l'installation ou la verification ?", L"Vorna380", BOX_YES_NO | BOX_QUESTION) == BOX_ANSWER_YES) {
    g_window_calls->destroy();
  }
}

void on_launcher_message(unsigned message, intptr_t lparam) {
  wchar_t* text = reinterpret_cast<wchar_t*>(lparam);
  switch (message) {
    case WM_LAUNCHER_STATUS:
      take_status_text(text);
      if (g_ui_state != UI_STATE_READY) g_ui_state = UI_STATE_WAIT;
      free(text);
      repaint_later();
      break;
    case WM_LAUNCHER_ERROR:
      on_fatal_error(text);
      break;
    case WM_LAUNCHER_READY:
      g_ui_state = UI_STATE_READY;
      repaint_later();
      g_window_calls->paint_now();
      break;
    case WM_LAUNCHER_CLOSE:
      g_window_calls->destroy();
      break;
  }
}
