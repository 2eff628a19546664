#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "accounts/accounts.h"
#include "core/status.h"
#include "core/text.h"
#include "support/test_support.h"
#include "ui/download_rate.h"
#include "ui/layout.h"

namespace {
// A canvas that writes down what is drawn.
struct drawn {
  std::string kind;   // "fill", "box", "text", "background"
  int a, b, c, d;     // rectangle (fill, text) or x, y, width, height (box, background)
  rgb_colour colour;  // fill or text colour, box fill
  rgb_colour outline;
  std::wstring text;
  ui_font font;
  text_flow flow;
};

struct recording_canvas {
  canvas base;
  std::vector<drawn> items;
};

std::vector<drawn>& items_of(canvas* self) { return reinterpret_cast<recording_canvas*>(self)->items; }

void record_fill(canvas* self, int l, int t, int r, int b, rgb_colour colour) {
  items_of(self).push_back({"fill", l, t, r, b, colour, 0, {}, UI_FONT_DETAIL, TEXT_CENTERED});
}
void record_box(canvas* self, int x, int y, int w, int h, rgb_colour fill, rgb_colour outline, int) {
  items_of(self).push_back({"box", x, y, w, h, fill, outline, {}, UI_FONT_DETAIL, TEXT_CENTERED});
}
void record_text(canvas* self, const wchar_t* text, int l, int t, int r, int b, ui_font font, rgb_colour colour,
                 text_flow flow) {
  items_of(self).push_back({"text", l, t, r, b, colour, 0, text, font, flow});
}
void record_background(canvas* self, int x, int y, int w, int h) {
  items_of(self).push_back({"background", x, y, w, h, 0, 0, {}, UI_FONT_DETAIL, TEXT_CENTERED});
}

class Painting : public ::testing::Test {
 protected:
  void TearDown() override {
    g_ui_state = UI_STATE_WAIT;
    g_selected_account[0] = L'\0';
    g_close_hover = g_play_hover = 0;
    g_progress_total = 0;
    g_progress_file[0] = L'\0';
    set_indeterminate_progress();
    wcscpy(g_status_text, L"Initialisation securisee...");
  }

  std::vector<drawn> paint() {
    recording_canvas target{{record_fill, record_box, record_text, record_background}, {}};
    paint_launcher(&target.base, g_progress_mode.load());
    return target.items;
  }
  static const drawn* text_at(const std::vector<drawn>& items, int left, int top) {
    for (const auto& item : items) {
      if (item.kind == "text" && item.a == left && item.b == top) return &item;
    }
    return nullptr;
  }
  static bool has_text(const std::vector<drawn>& items, const std::wstring& text) {
    for (const auto& item : items) {
      if (item.kind == "text" && item.text == text) return true;
    }
    return false;
  }
  // Publishes download figures the way the install worker does.
  void start_download(const std::wstring& file, uint64_t total) {
    copy_text(g_progress_file, PATH_UNITS, file.c_str());
    g_progress_total = total;
    g_progress_mode.exchange(PROGRESS_DOWNLOAD);
  }
  progress_view progress() {
    progress_view view;
    compute_progress_view(g_progress_mode.load(), &view);
    return view;
  }

  temp_dir dir;
};
}  // namespace

TEST_F(Painting, DownloadFiguresComeFromTheGrowingFile) {
  std::wstring file = dir / L"Vorna380.package.zip";
  start_download(file, 3145728);
  progress_view view = progress();
  EXPECT_EQ(view.width, 0u) << "the file does not exist yet";
  EXPECT_STREQ(view.text, L"0%  -  0 / 3 Mo");

  ASSERT_TRUE(write_bytes(file, std::string(1572864, 'p')));
  view = progress();
  EXPECT_EQ(view.width, 515u);
  EXPECT_STREQ(view.text, L"50%  -  1 / 3 Mo");

  ASSERT_TRUE(write_bytes(file, std::string(3145728 + 4096, 'p')));
  view = progress();
  EXPECT_EQ(view.width, 1030u);
  EXPECT_STREQ(view.text, L"100%  -  3 / 3 Mo");

  // Sizes beyond 4 GiB keep their 64 bits.
  start_download(file, 6442450944ull);
  ASSERT_TRUE(write_bytes(file, std::string(1048576, 'p')));
  view = progress();
  EXPECT_EQ(view.width, 0u);
  EXPECT_STREQ(view.text, L"0%  -  1 / 6144 Mo");
}

TEST_F(Painting, DownloadModeLeftSinceThePaintBeganShowsNoBytes) {
  std::wstring file = dir / L"package.zip";
  ASSERT_TRUE(write_bytes(file, std::string(1000, 'p')));
  start_download(file, 2000);
  set_indeterminate_progress();
  progress_view view;
  compute_progress_view(PROGRESS_DOWNLOAD, &view);  // the mode the paint read at its start
  EXPECT_STREQ(view.text, L"0%  -  0 / 0 Mo");
  EXPECT_EQ(view.width, 0u);
}

TEST_F(Painting, VerificationFiguresAndTheFixedTexts) {
  set_verify_progress(3, 7);
  progress_view view = progress();
  EXPECT_EQ(view.width, 441u);
  EXPECT_STREQ(view.text, L"42% Termine  -  3 / 7 fichiers");

  set_verify_progress(9, 7);
  view = progress();
  EXPECT_EQ(view.width, 1030u);
  EXPECT_STREQ(view.text, L"100% Termine  -  7 / 7 fichiers");

  for (int32_t state : {UI_STATE_WAIT, UI_STATE_ERROR, UI_STATE_READY}) {
    g_ui_state = state;
    bool ready = state == UI_STATE_READY;
    for (int mode = 0; mode < 3; ++mode) {
      if (mode == 0) set_indeterminate_progress();
      if (mode == 1) set_verify_progress(5, 0);
      if (mode == 2) start_download(dir / L"x", 0);
      view = progress();
      EXPECT_STREQ(view.text, ready ? L"Votre jeu est a jour" : L"Verification des mises a jour...") << mode;
      EXPECT_EQ(view.width, ready ? 1030u : 0u) << mode;
    }
  }
}

TEST_F(Painting, WaitStateShowsTheStatusLineAndNoButtons) {
  wcscpy(g_status_text, L"Telechargement du manifeste & de sa signature...");
  set_verify_progress(3, 7);
  std::vector<drawn> items = paint();

  ASSERT_FALSE(items.empty());
  EXPECT_EQ(items[0].kind, "fill");
  EXPECT_EQ(items[0].colour, 0x101110u);
  EXPECT_EQ(items[1].kind, "background");
  EXPECT_EQ((std::vector<int>{items[1].a, items[1].b, items[1].c, items[1].d}), (std::vector<int>{76, 33, 1030, 368}));

  const drawn* status = text_at(items, 210, 238);
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->text, g_status_text);
  EXPECT_EQ(status->flow, TEXT_WRAPPED);
  EXPECT_EQ((std::vector<int>{status->c, status->d}), (std::vector<int>{603, 306}));
  EXPECT_FALSE(has_text(items, L"JOUER"));

  // The bar: 441 pixels of the 1030, along the top 4 pixels of the band, drawn over it.
  int band = -1, bar = -1;
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].kind == "fill" && items[i].colour == 0x1F2484u) band = static_cast<int>(i);
    if (items[i].kind == "fill" && items[i].colour == 0x4D64E2u) {
      bar = static_cast<int>(i);
      EXPECT_EQ((std::vector<int>{items[i].a, items[i].b, items[i].c, items[i].d}),
                (std::vector<int>{76, 401, 76 + 441, 405}));
    }
  }
  EXPECT_LT(band, bar);
  const drawn* figures = text_at(items, 76, 401);
  ASSERT_NE(figures, nullptr);
  EXPECT_EQ(figures->text, L"42% Termine  -  3 / 7 fichiers");

  const drawn* status_value = text_at(items, 866, 476);
  ASSERT_NE(status_value, nullptr);
  EXPECT_EQ(status_value->text, L"Verification");
  EXPECT_EQ(status_value->colour, 0xFFFFFFu);
}

TEST_F(Painting, ReadyStateShowsPlayAndHoverColours) {
  g_ui_state = UI_STATE_READY;
  std::vector<drawn> items = paint();
  EXPECT_EQ(text_at(items, 210, 238), nullptr);
  ASSERT_NE(text_at(items, 272, 245), nullptr);
  EXPECT_EQ(text_at(items, 272, 245)->text, L"JOUER");
  EXPECT_EQ(text_at(items, 482, 245)->text, L"...");
  EXPECT_EQ(text_at(items, 866, 476)->text, L"En ligne");
  EXPECT_EQ(text_at(items, 76, 401)->text, L"Votre jeu est a jour");
  EXPECT_EQ(text_at(items, 1070, 0)->colour, 0xEBEBEBu);
  bool found_play = false;
  for (const auto& item : items) {
    if (item.kind == "box" && item.a == 272 && item.b == 245) {
      found_play = true;
      EXPECT_EQ(item.colour, 0x202C8Fu);
      EXPECT_EQ(item.outline, 0x313B97u);
    }
  }
  EXPECT_TRUE(found_play);

  g_play_hover = 1;
  g_close_hover = 1;
  items = paint();
  EXPECT_EQ(text_at(items, 1070, 0)->colour, 0xFF5F5Fu);
  for (const auto& item : items) {
    if (item.kind == "box" && item.a == 272) {
      EXPECT_EQ(item.colour, 0x2F3CB2u);
    }
  }
}

TEST_F(Painting, ErrorStateAndTheAccountRow) {
  g_ui_state = UI_STATE_ERROR;
  wcscpy(g_status_text, L"Signature du manifeste invalide.");
  std::vector<drawn> items = paint();
  EXPECT_EQ(text_at(items, 866, 476)->text, L"Verification");
  EXPECT_EQ(text_at(items, 866, 476)->colour, 0xFF5F5Fu);
  EXPECT_EQ(text_at(items, 210, 238)->text, L"Signature du manifeste invalide.");
  EXPECT_EQ(text_at(items, 814, 93)->colour, 0xFF8F0Eu);
  EXPECT_EQ(text_at(items, 840, 93)->text, L"Aucun compte");
  EXPECT_EQ(text_at(items, 840, 93)->flow, TEXT_LEFT_ELLIPSIS);

  std::wstring login(255, L'j');
  wcscpy(g_selected_account, login.c_str());
  items = paint();
  EXPECT_EQ(text_at(items, 814, 93)->colour, 0x11B823u);
  EXPECT_EQ(text_at(items, 840, 93)->text, login);
}

TEST_F(Painting, EverythingStaysInsideTheWindow) {
  g_ui_state = UI_STATE_READY;
  std::wstring file = dir / L"big.zip";
  ASSERT_TRUE(write_bytes(file, std::string(5000, 'p')));
  start_download(file, 10);  // a file larger than announced: the bar stops at the band's end
  for (const auto& item : paint()) {
    bool sized = item.kind == "box" || item.kind == "background";
    int right = sized ? item.a + item.c : item.c;
    int bottom = sized ? item.b + item.d : item.d;
    EXPECT_GE(item.a, 0) << item.kind;
    EXPECT_GE(item.b, 0) << item.kind;
    EXPECT_LE(right, WINDOW_WIDTH) << item.kind;
    EXPECT_LE(bottom, WINDOW_HEIGHT) << item.kind;
  }
}

// The rate and the time left: nothing before the warm-up, an average that does not jump with
// one slow or fast sample, bytes already there not counted as speed, and a file written anew
// starting the estimate again.
TEST(DownloadRate, ShownAfterTheWarmUpSmoothedAndNeverNegative) {
  const uint64_t total = 3ull << 30;
  const uint64_t mib = 1ull << 20;
  auto shown = [&](const rate_estimate& estimate, uint64_t bytes) {
    wchar_t line[64] = {};
    text_builder text = start_text(line, 64);
    append_rate_and_time_left(&text, &estimate, bytes, total);
    return std::wstring(line);
  };
  rate_estimate estimate = {};
  uint64_t bytes = 1024 * mib;  // resumed: a gigabyte already there
  for (uint64_t ms = 0; ms <= 2500; ms += 500, bytes += 5 * mib) {
    add_rate_sample(&estimate, 10000 + ms, bytes, total);
    EXPECT_EQ(shown(estimate, bytes), L"") << ms;
  }
  for (uint64_t ms = 3000; ms <= 6000; ms += 500, bytes += 5 * mib) add_rate_sample(&estimate, 10000 + ms, bytes, total);
  bytes -= 5 * mib;  // the last sample's
  // 10 Mio/s, with 2 Gio - 70 Mio left: 199 s.
  EXPECT_EQ(shown(estimate, bytes), L"  -  10,0 Mo/s, 4 min");
  // One stalled second moves the figure a sixth of the way down, not to nothing.
  add_rate_sample(&estimate, 17000, bytes, total);
  EXPECT_EQ(shown(estimate, bytes), L"  -  8,3 Mo/s, 4 min");
  // A file written anew starts again: nothing shown until a new warm-up.
  add_rate_sample(&estimate, 17500, mib, total);
  EXPECT_EQ(shown(estimate, mib), L"");
  // Slow downloads in Ko/s, long ones in hours.
  rate_estimate slow = {};
  for (uint64_t ms = 0; ms <= 4000; ms += 500) add_rate_sample(&slow, ms, ms * 50, total);
  EXPECT_EQ(shown(slow, 4000 * 50).substr(0, 14), L"  -  49 Ko/s, ");
  EXPECT_NE(shown(slow, 4000 * 50).find(L" h "), std::wstring::npos);
}
