#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "accounts/accounts.h"
#include "core/status.h"
#include "support/journal_lines.h"
#include "support/test_support.h"
#include "ui/layout.h"
#include "ui/window.h"
#include "window_double.h"

namespace {
// Every test starts from the wait state with the first status text and no account.
class WindowBehaviour : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { reset(); }
  static void reset() {
    g_ui_state = UI_STATE_WAIT;
    wcscpy(g_status_text, L"Initialisation securisee...");
    g_selected_account[0] = L'\0';
    g_close_hover = 0;
    g_play_hover = 0;
    set_indeterminate_progress();
  }
  static intptr_t heap_text(const std::wstring& text) {
    wchar_t* copy = static_cast<wchar_t*>(malloc((text.size() + 1) * sizeof(wchar_t)));
    wcscpy(copy, text.c_str());
    return reinterpret_cast<intptr_t>(copy);
  }

  temp_dir dir;
  journal_capture journal{dir / L"launcher.log"};
  window_double window;
};

struct area_case {
  const char* name;
  int left, top, right, bottom;  // inclusive
  hit_area area;
  int32_t state;
};
// Each area of the window with the state in which it is active.
const area_case k_areas[] = {
    {"close", 1070, 0, 1105, 32, HIT_CLOSE, UI_STATE_WAIT},
    {"minimise", 1026, 0, 1061, 32, HIT_MINIMISE, UI_STATE_WAIT},
    {"play", 272, 245, 481, 298, HIT_PLAY, UI_STATE_READY},
    {"accounts", 482, 245, 539, 298, HIT_ACCOUNTS, UI_STATE_WAIT},
    {"server", 0, 33, 75, 140, HIT_SERVER, UI_STATE_ERROR},
    {"version", 0, 141, 75, 230, HIT_VERSION, UI_STATE_WAIT},
    {"information", 91, 340, 132, 381, HIT_INFORMATION, UI_STATE_READY},
    {"language", 144, 340, 185, 381, HIT_LANGUAGE, UI_STATE_WAIT},
    {"add account", 786, 307, 1065, 352, HIT_ADD_ACCOUNT, UI_STATE_WAIT},
    {"play this account", 1012, 93, 1039, 134, HIT_PLAY_ACCOUNT, UI_STATE_READY},
    {"remove", 1044, 93, 1071, 134, HIT_REMOVE_ACCOUNT, UI_STATE_WAIT},
    {"account row", 786, 93, 1011, 134, HIT_ACCOUNT_ROW, UI_STATE_READY},
};
}  // namespace

TEST(HitAreas, EveryCornerIsInsideAndThePixelsBeyondAreNot) {
  for (const auto& c : k_areas) {
    const int corners[4][2] = {{c.left, c.top}, {c.right, c.top}, {c.left, c.bottom}, {c.right, c.bottom}};
    for (const auto& p : corners) {
      EXPECT_EQ(hit_test(p[0], p[1], c.state), c.area) << c.name << " at " << p[0] << "," << p[1];
    }
    int mid_x = (c.left + c.right) / 2;
    int mid_y = (c.top + c.bottom) / 2;
    const int beyond[4][2] = {{c.left - 1, mid_y}, {c.right + 1, mid_y}, {mid_x, c.top - 1}, {mid_x, c.bottom + 1}};
    for (const auto& p : beyond) {
      EXPECT_NE(hit_test(p[0], p[1], c.state), c.area) << c.name << " at " << p[0] << "," << p[1];
    }
  }
}

TEST(HitAreas, PlayAreasExistOnlyWhenReady) {
  for (int32_t state : {UI_STATE_WAIT, UI_STATE_ERROR}) {
    EXPECT_EQ(hit_test(272, 245, state), HIT_NOTHING);
    EXPECT_EQ(hit_test(481, 298, state), HIT_NOTHING);
    // Outside the ready state the ">" glyph belongs to the account row.
    EXPECT_EQ(hit_test(1012, 93, state), HIT_ACCOUNT_ROW);
    EXPECT_EQ(hit_test(1039, 134, state), HIT_ACCOUNT_ROW);
  }
  // The row reaches up to the remove glyph; 1040-1043 stays row in every state.
  EXPECT_EQ(hit_test(1043, 100, UI_STATE_READY), HIT_ACCOUNT_ROW);
  EXPECT_EQ(hit_test(1040, 100, UI_STATE_READY), HIT_ACCOUNT_ROW);
  EXPECT_EQ(hit_test(-1, 100, UI_STATE_READY), HIT_NOTHING);
  EXPECT_EQ(hit_test(-5, -5, UI_STATE_WAIT), HIT_NOTHING);
}

TEST(HitAreas, TheTopStripMovesTheWindowExceptOnTheGlyphs) {
  EXPECT_TRUE(in_drag_strip(0, 0));
  EXPECT_TRUE(in_drag_strip(500, 32));
  EXPECT_TRUE(in_drag_strip(1025, 10));
  EXPECT_TRUE(in_drag_strip(1062, 10));
  EXPECT_TRUE(in_drag_strip(1069, 10));
  EXPECT_TRUE(in_drag_strip(1062, -3));  // above the client area, as a signed coordinate
  for (int x : {1026, 1061, 1070, 1105}) {
    EXPECT_FALSE(in_drag_strip(x, 0)) << x;
    EXPECT_FALSE(in_drag_strip(x, 32)) << x;
  }
  EXPECT_FALSE(in_drag_strip(500, 33));
  EXPECT_FALSE(in_drag_strip(1080, 33));
}

TEST_F(WindowBehaviour, InformationBoxesAndMinimiseInEveryState) {
  struct expected_box {
    int x, y;
    const wchar_t* text;
    const wchar_t* caption;
  };
  const expected_box boxes[] = {
      {10, 40, L"Serveur 2 est selectionne.", L"Serveur"},
      {75, 230, L"Vorna 3.80 est selectionne.", L"Version"},
      {100, 350, L"Vorna380\nLauncher unique securise\nMises a jour, comptes et jeu dans une seule fenetre.",
       L"Informations"},
  };
  for (int32_t state : {UI_STATE_WAIT, UI_STATE_READY, UI_STATE_ERROR}) {
    g_ui_state = state;
    for (const auto& b : boxes) {
      window.clear();
      on_left_button_up(b.x, b.y);
      auto shown = window.of_kind("box");
      ASSERT_EQ(window.actions(), std::vector<std::string>{"box"}) << state;
      EXPECT_EQ(shown[0].text, b.text);
      EXPECT_EQ(shown[0].caption, b.caption);
      EXPECT_EQ(shown[0].style, BOX_INFORMATION);
    }
    window.clear();
    on_left_button_up(1040, 20);
    EXPECT_EQ(window.actions(), std::vector<std::string>{"minimise"});
    window.clear();
    on_left_button_up(600, 20);   // drag strip
    on_left_button_up(700, 600);  // lower panel
    on_left_button_up(-20, 300);
    EXPECT_TRUE(window.calls.empty());
  }
}

TEST_F(WindowBehaviour, LanguageMenuOffersEnglishOnlyAsAPromise) {
  const std::vector<recorded_menu_item> items = {{IDM_LANG_FR, L"Francais", MENU_CHECKED},
                                                 {IDM_LANG_EN, L"English", 0}};
  for (unsigned choice : {0u, IDM_LANG_FR, IDM_LANG_EN}) {
    window.clear();
    window.menu_choice = choice;
    on_left_button_up(160, 360);
    auto menus = window.of_kind("menu");
    ASSERT_EQ(menus.size(), 1u);
    EXPECT_EQ(menus[0].items, items);
    auto boxes = window.of_kind("box");
    if (choice == IDM_LANG_EN) {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, L"La version anglaise sera disponible prochainement.");
      EXPECT_EQ(boxes[0].caption, L"Langue");
      EXPECT_EQ(boxes[0].style, BOX_INFORMATION);
    } else {
      EXPECT_TRUE(boxes.empty()) << choice;
    }
  }
}

TEST_F(WindowBehaviour, PlayActsOnlyWhenReadyAndReportsWhatFailed) {
  on_left_button_up(300, 270);  // wait state: the status line lies there, nothing happens
  on_left_button_up(1020, 100);
  EXPECT_TRUE(window.of_kind("box").empty());

  g_ui_state = UI_STATE_READY;
  window.clear();
  on_left_button_up(300, 270);  // no account: nothing to queue, the game cannot start yet
  auto boxes = window.of_kind("box");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, L"Impossible de lancer Tarvo.exe.");
  EXPECT_EQ(boxes[0].caption, L"Vorna380");
  EXPECT_EQ(boxes[0].style, BOX_ERROR);

  wcscpy(g_selected_account, L"joueur");  // a selection the vault cannot give back
  window.clear();
  on_left_button_up(481, 298);
  boxes = window.of_kind("box");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, L"Le compte selectionne est introuvable dans le coffre Windows.");
  EXPECT_EQ(boxes[0].caption, L"Compte Vorna380");

  window.clear();
  on_left_button_up(1039, 134);
  boxes = window.of_kind("box");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, L"Impossible de lancer ce compte.");
  EXPECT_EQ(boxes[0].caption, L"Vorna380");
  EXPECT_EQ(boxes[0].style, BOX_ERROR);
  EXPECT_TRUE(window.of_kind("menu").empty());
}

TEST_F(WindowBehaviour, ClosingAsksUnlessReady) {
  struct close_case {
    int32_t state;
    int answer;
    bool asks, destroys;
  };
  const close_case cases[] = {
      {UI_STATE_READY, 0, false, true},
      {UI_STATE_WAIT, 7, true, false},
      {UI_STATE_WAIT, BOX_ANSWER_YES, true, true},
      {UI_STATE_ERROR, 7, true, false},
      {UI_STATE_ERROR, BOX_ANSWER_YES, true, true},
  };
  for (const auto& c : cases) {
    for (bool from_glyph : {true, false}) {
      g_ui_state = c.state;
      window.clear();
      window.box_answer = c.answer;
      if (from_glyph) {
        on_left_button_up(1088, 16);
      } else {
        on_close_request();
      }
      auto boxes = window.of_kind("box");
      ASSERT_EQ(boxes.size(), c.asks ? 1u : 0u) << c.state;
      if (c.asks) {
        EXPECT_EQ(boxes[0].text, L"Arreter l'installation ou la verification ?");
        EXPECT_EQ(boxes[0].caption, L"Vorna380");
        EXPECT_EQ(boxes[0].style, BOX_YES_NO | BOX_QUESTION);
      }
      EXPECT_EQ(window.of_kind("destroy").size(), c.destroys ? 1u : 0u) << c.state << " answer " << c.answer;
    }
  }
}

TEST_F(WindowBehaviour, StatusTextsFollowTheStateTable) {
  struct transition {
    int32_t from;
    unsigned message;
    int32_t to;
  };
  const transition table[] = {
      {UI_STATE_WAIT, WM_LAUNCHER_STATUS, UI_STATE_WAIT},  {UI_STATE_READY, WM_LAUNCHER_STATUS, UI_STATE_READY},
      {UI_STATE_ERROR, WM_LAUNCHER_STATUS, UI_STATE_WAIT}, {UI_STATE_WAIT, WM_LAUNCHER_READY, UI_STATE_READY},
      {UI_STATE_READY, WM_LAUNCHER_READY, UI_STATE_READY}, {UI_STATE_ERROR, WM_LAUNCHER_READY, UI_STATE_READY},
  };
  for (const auto& t : table) {
    g_ui_state = t.from;
    window.clear();
    on_launcher_message(t.message, t.message == WM_LAUNCHER_STATUS ? heap_text(L"Jeu lance.") : 0);
    EXPECT_EQ(g_ui_state, t.to) << t.from << " " << t.message;
    EXPECT_FALSE(window.of_kind("invalidate").empty());
    EXPECT_EQ(window.of_kind("paint_now").size(), t.message == WM_LAUNCHER_READY ? 1u : 0u);
    EXPECT_TRUE(window.of_kind("destroy").empty());
  }
  EXPECT_STREQ(g_status_text, L"Jeu lance.");

  std::wstring long_text(3000, L'a');
  long_text[2046] = L'b';
  long_text[2047] = L'c';
  on_launcher_message(WM_LAUNCHER_STATUS, heap_text(long_text));
  EXPECT_EQ(wcslen(g_status_text), 2047u);
  EXPECT_EQ(g_status_text[2046], L'b');

  window.clear();
  on_launcher_message(WM_LAUNCHER_CLOSE, 0);
  EXPECT_EQ(window.actions(), std::vector<std::string>{"destroy"});
}

TEST_F(WindowBehaviour, AFatalErrorIsShownBehindItsBoxThenClosesTheWindow) {
  for (int32_t from : {UI_STATE_WAIT, UI_STATE_READY}) {
    g_ui_state = from;
    set_verify_progress(3, 7);
    window.clear();
    on_launcher_message(WM_LAUNCHER_ERROR, heap_text(L"Signature du manifeste invalide."));
    EXPECT_EQ(g_ui_state, UI_STATE_ERROR);
    EXPECT_STREQ(g_status_text, L"Signature du manifeste invalide.");
    EXPECT_EQ(g_progress_mode.load(), PROGRESS_INDETERMINATE);
    EXPECT_EQ(g_verify_progress_total.load(), 0);
    // Painted before the box is shown, destroyed after it is acknowledged.
    EXPECT_EQ(window.actions(), (std::vector<std::string>{"paint_now", "box", "destroy"}));
    auto boxes = window.of_kind("box");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"Signature du manifeste invalide.\n\nJournal : " + journal.path);
    EXPECT_EQ(boxes[0].caption, L"Vorna380 - securite");
    EXPECT_EQ(boxes[0].style, BOX_ERROR);
  }
  // A text that fills the box's buffer is cut, never overrun.
  window.clear();
  on_launcher_message(WM_LAUNCHER_ERROR, heap_text(std::wstring(5000, L'e')));
  auto boxes = window.of_kind("box");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, std::wstring(4095, L'e'));
  EXPECT_EQ(wcslen(g_status_text), 2047u);
}

TEST_F(WindowBehaviour, HoverFollowsThePointerAndRepaintsOnlyOnChange) {
  on_mouse_move(1080, 10);
  EXPECT_EQ(g_close_hover, 1);
  EXPECT_EQ(window.of_kind("invalidate").size(), 1u);
  on_mouse_move(1090, 20);
  EXPECT_EQ(window.of_kind("invalidate").size(), 1u);
  on_mouse_move(300, 260);  // play area, but not ready
  EXPECT_EQ(g_close_hover, 0);
  EXPECT_EQ(g_play_hover, 0);
  EXPECT_EQ(window.of_kind("invalidate").size(), 2u);

  g_ui_state = UI_STATE_READY;
  on_mouse_move(301, 260);
  EXPECT_EQ(g_play_hover, 1);
  EXPECT_EQ(window.of_kind("invalidate").size(), 3u);
  on_mouse_leave();
  EXPECT_EQ(g_play_hover, 0);
  EXPECT_EQ(window.of_kind("invalidate").size(), 4u);
  on_mouse_leave();
  EXPECT_EQ(window.of_kind("invalidate").size(), 4u);
}
