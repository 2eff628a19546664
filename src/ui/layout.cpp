#include "ui/layout.h"

#include "accounts/accounts.h"
#include "core/os.h"
#include "core/status.h"
#include "core/text.h"
#include "ui/download_rate.h"

int g_close_hover = 0;
int g_play_hover = 0;
// The rate of the download the band shows (UI thread only).
rate_estimate g_download_rate = {};

namespace {
constexpr rgb_colour WHITE = 0xFFFFFF;

// Inclusive bounds, as the hit areas are given.
struct area {
  int left, top, right, bottom;
  bool holds(int x, int y) const { return x >= left && x <= right && y >= top && y <= bottom; }
};
constexpr area k_close{1070, 0, 1105, 32};
constexpr area k_minimise{1026, 0, 1061, 32};
constexpr area k_play{272, 245, 481, 298};
constexpr area k_accounts{482, 245, 539, 298};
constexpr area k_server{0, 33, 75, 140};
constexpr area k_version{0, 141, 75, 230};
constexpr area k_information{91, 340, 132, 381};
constexpr area k_language{144, 340, 185, 381};
constexpr area k_add_account{786, 307, 1065, 352};
constexpr area k_play_account{1012, 93, 1039, 134};
constexpr area k_remove_account{1044, 93, 1071, 134};
constexpr area k_account_row{786, 93, 1043, 134};
// The progress band across the window under the picture (right and bottom exclusive): its
// background, the bar along its top edge and its centred text.
constexpr int PROGRESS_LEFT = 76, PROGRESS_TOP = 401, PROGRESS_RIGHT = 1106, PROGRESS_BOTTOM = 439;
constexpr int PROGRESS_BAR_HEIGHT = 4;

void append_percent_figures(text_builder* text, uint64_t percent) {
  builder_append_uint(text, percent, 1);
  builder_append(text, L"%");
}

void paint_action_area(canvas* target) {
  if (g_ui_state == UI_STATE_READY) {
    draw_button(target, 272, 245, 210, 54, g_play_hover ? 0x2F3CB2 : 0x202C8F, 0x313B97, 5);
    draw_center_text(target, L"JOUER", 272, 245, 482, 299, UI_FONT_STATUS, WHITE);
    draw_button(target, 482, 245, 58, 54, 0x313B97, 0x3A46AD, 5);
    draw_center_text(target, L"...", 482, 245, 540, 299, UI_FONT_STATUS, WHITE);
  } else {
    target->text(target, g_status_text, 210, 238, 603, 306, UI_FONT_STATUS, WHITE, TEXT_WRAPPED);
  }
}

void paint_accounts_panel(canvas* target) {
  draw_left_text(target, L"Comptes enregistres", 790, 58, 1045, 91, UI_FONT_STATUS);
  fill_rect_rgb(target, 786, 93, 1066, 135, 0x1C1D1C);
  draw_center_text(target, L"1", 786, 93, 814, 135, UI_FONT_DETAIL, WHITE);
  bool selected = g_selected_account[0] != L'\0';
  draw_center_text(target, L"o", 814, 93, 840, 135, UI_FONT_STATUS, selected ? 0x11B823 : 0xFF8F0E);
  wchar_t name[320];
  copy_text(name, 320, selected ? g_selected_account : L"Aucun compte");
  draw_left_text(target, name, 840, 93, 1008, 135, UI_FONT_DETAIL);
  draw_center_text(target, L">", 1012, 93, 1040, 135, UI_FONT_STATUS, WHITE);
  draw_center_text(target, L"x", 1044, 93, 1072, 135, UI_FONT_STATUS, WHITE);
  draw_button(target, 786, 307, 280, 46, 0x202C8F, 0x202C8F, 5);
  draw_center_text(target, L"AJOUTER UN COMPTE", 786, 307, 1066, 353, UI_FONT_STATUS, WHITE);
}
}  // namespace

void compute_progress_view(int32_t mode, progress_view* view) {
  text_builder text{view->text, PROGRESS_TEXT_UNITS, 0};
  view->text[0] = L'\0';
  view->width = 0;
  if (mode == PROGRESS_DOWNLOAD && g_progress_total != 0) {
    uint64_t total = g_progress_total;
    uint64_t current = 0;
    if (g_progress_mode.load() != PROGRESS_DOWNLOAD || !os_file_size(g_progress_file, &current)) current = 0;
    if (current >= total) current = total;
    // current <= total, so neither product can overflow for totals below 2^54 bytes; above
    // that the figures are scaled down first.
    uint64_t scale = total >> 53 == 0 ? 1 : (total >> 53) + 1;
    view->width = static_cast<uint32_t>((current / scale) * PROGRESS_BAR_WIDTH / (total / scale));
    append_percent_figures(&text, (current / scale) * 100 / (total / scale));
    builder_append(&text, L"  -  ");
    builder_append_uint(&text, current >> 20, 1);
    builder_append(&text, L" / ");
    builder_append_uint(&text, total >> 20, 1);
    builder_append(&text, L" Mo");
    add_rate_sample(&g_download_rate, os_monotonic_ms(), current, total);
    append_rate_and_time_left(&text, &g_download_rate, current, total);
    return;
  }
  g_download_rate.started = 0;
  if (mode == PROGRESS_VERIFY && g_verify_progress_total.load() > 0) {
    int64_t done = g_verify_progress_done.load();
    int64_t total = g_verify_progress_total.load();
    // A total read again as zero means the worker has just left the mode: no figures.
    if (total > 0) {
      if (done > total) done = total;
      view->width = static_cast<uint32_t>(done * PROGRESS_BAR_WIDTH / total);
      append_percent_figures(&text, static_cast<uint64_t>(done * 100 / total));
      builder_append(&text, L" Termine  -  ");
      builder_append_uint(&text, static_cast<uint64_t>(done), 1);
      builder_append(&text, L" / ");
      builder_append_uint(&text, static_cast<uint64_t>(total), 1);
      builder_append(&text, L" fichiers");
      return;
    }
  }
  if (g_ui_state == UI_STATE_READY) {
    builder_append(&text, L"Votre jeu est a jour");
    view->width = PROGRESS_BAR_WIDTH;
  } else {
    builder_append(&text, L"Verification des mises a jour...");
  }
}

void paint_launcher(canvas* target, int32_t progress_mode) {
  fill_rect_rgb(target, 0, 0, WINDOW_WIDTH, WINDOW_HEIGHT, 0x101110);
  target->background(target, 76, 33, 1030, 368);

  fill_rect_rgb(target, 0, 0, 1106, 33, 0x141414);
  fill_rect_rgb(target, 0, 33, 76, 676, 0x131313);
  fill_rect_rgb(target, 0, 33, 76, 141, 0x373737);
  fill_rect_rgb(target, 776, 53, 1076, 367, 0x111211);
  fill_rect_rgb(target, 776, 93, 1076, 307, 0x171817);
  fill_rect_rgb(target, PROGRESS_LEFT, PROGRESS_TOP, PROGRESS_RIGHT, PROGRESS_BOTTOM, 0x1F2484);
  fill_rect_rgb(target, 76, PROGRESS_BOTTOM, 1106, 676, 0x101110);

  draw_left_text(target, L"Vorna380 Launcher", 32, 0, 260, 33, UI_FONT_DETAIL);
  draw_center_text(target, L"-", 1026, 0, 1062, 33, UI_FONT_STATUS, 0xEBEBEB);
  draw_center_text(target, L"x", 1070, 0, 1106, 33, UI_FONT_STATUS, g_close_hover ? 0xFF5F5F : 0xEBEBEB);
  draw_center_text(target, L"Serveur 2", 0, 42, 76, 64, UI_FONT_DETAIL, WHITE);
  draw_button(target, 17, 75, 42, 42, 0x273765, 0x6A84E6, 8);
  draw_center_text(target, L"S2", 17, 75, 59, 117, UI_FONT_STATUS, 0xA5E2FF);
  draw_center_text(target, L"Vorna", 0, 153, 76, 177, UI_FONT_DETAIL, WHITE);
  draw_center_text(target, L"3.80", 0, 178, 76, 210, UI_FONT_STATUS, WHITE);
  draw_center_text(target, L"VORNA 3.80", 246, 105, 566, 157, UI_FONT_TITLE, 0x86DFFF);

  paint_action_area(target);

  draw_button(target, 91, 340, 42, 42, 0x5B69FF, 0x6E7DFF, 42);
  draw_center_text(target, L"i", 91, 340, 133, 382, UI_FONT_STATUS, WHITE);
  draw_button(target, 144, 340, 42, 42, 0xECECF4, 0xECECF4, 42);
  draw_center_text(target, L"FR", 144, 340, 186, 382, UI_FONT_DETAIL, 0x171717);

  paint_accounts_panel(target);

  progress_view progress;
  compute_progress_view(progress_mode, &progress);
  if (progress.width > 0) {
    uint32_t width = progress.width < PROGRESS_BAR_WIDTH ? progress.width : PROGRESS_BAR_WIDTH;
    fill_rect_rgb(target, PROGRESS_LEFT, PROGRESS_TOP, PROGRESS_LEFT + static_cast<int>(width),
                  PROGRESS_TOP + PROGRESS_BAR_HEIGHT, 0x4D64E2);
  }
  draw_center_text(target, progress.text, PROGRESS_LEFT, PROGRESS_TOP, PROGRESS_RIGHT, PROGRESS_BOTTOM, UI_FONT_STATUS,
                   WHITE);

  draw_center_text(target, L"Version", 170, 451, 336, 475, UI_FONT_DETAIL, WHITE);
  draw_center_text(target, L"Vorna 3.80", 170, 476, 336, 500, UI_FONT_STATUS, WHITE);
  draw_center_text(target, L"Type", 522, 451, 688, 475, UI_FONT_DETAIL, WHITE);
  draw_center_text(target, L"Semi Like", 522, 476, 688, 500, UI_FONT_STATUS, WHITE);
  draw_center_text(target, L"Statut", 866, 451, 1032, 475, UI_FONT_DETAIL, WHITE);
  draw_center_text(target, g_ui_state == UI_STATE_READY ? L"En ligne" : L"Verification", 866, 476, 1032, 500,
                   UI_FONT_STATUS, g_ui_state == UI_STATE_ERROR ? 0xFF5F5F : WHITE);
}

hit_area hit_test(int x, int y, int32_t ui_state) {
  bool ready = ui_state == UI_STATE_READY;
  if (k_close.holds(x, y)) return HIT_CLOSE;
  if (k_minimise.holds(x, y)) return HIT_MINIMISE;
  if (ready && k_play.holds(x, y)) return HIT_PLAY;
  if (x < 0) return HIT_NOTHING;
  if (k_server.holds(x, y)) return HIT_SERVER;
  if (k_version.holds(x, y)) return HIT_VERSION;
  if (k_information.holds(x, y)) return HIT_INFORMATION;
  if (k_language.holds(x, y)) return HIT_LANGUAGE;
  if (k_accounts.holds(x, y)) return HIT_ACCOUNTS;
  if (k_add_account.holds(x, y)) return HIT_ADD_ACCOUNT;
  if (ready && k_play_account.holds(x, y)) return HIT_PLAY_ACCOUNT;
  if (k_remove_account.holds(x, y)) return HIT_REMOVE_ACCOUNT;
  if (k_account_row.holds(x, y)) return HIT_ACCOUNT_ROW;
  return HIT_NOTHING;
}

int in_drag_strip(int x, int y) {
  bool glyph_column = (x >= k_close.left && x <= k_close.right) || (x >= k_minimise.left && x <= k_minimise.right);
  if (glyph_column && y >= 0 && y <= 32) return 0;
  return y < TITLE_BAR_HEIGHT;
}
