
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <mutex>

#include "core/status.h"
#include "core/text.h"
#include "core/window_channel_posix.h"
#include "ui/gtk_posix.h"
#include "ui/graphics_posix.h"
#include "ui/layout.h"
#include "ui/paint_posix.h"
#include "ui/window.h"

namespace {
// The one launcher window. It outlives the GTK window so that workers holding g_window can
// still post to it; once closed, posts fail.
struct launcher_window {
  posix_window base;
  std::mutex lock;
  bool open = false;
  std::atomic<bool> redraw_queued{false};
  GtkWidget* widget = nullptr;
  guint timer = 0;
};
launcher_window g_launcher;

struct queued_message {
  unsigned message;
  intptr_t lparam;
};

bool is_open() {
  std::lock_guard<std::mutex> guard(g_launcher.lock);
  return g_launcher.open;
}

gboolean deliver_message(gpointer data) {
  queued_message* queued = static_cast<queued_message*>(data);
  if (is_open()) {
    on_launcher_message(queued->message, queued->lparam);
  } else if (queued->message == WM_LAUNCHER_STATUS || queued->message == WM_LAUNCHER_ERROR) {
    free(reinterpret_cast<void*>(queued->lparam));
  }
  free(queued);
  return G_SOURCE_REMOVE;
}

// Any thread: queued behind what was posted before, delivered by the UI thread's loop.
int post_to_window(posix_window*, unsigned message, uintptr_t, intptr_t lparam) {
  std::lock_guard<std::mutex> guard(g_launcher.lock);
  if (!g_launcher.open) return 0;
  queued_message* queued = static_cast<queued_message*>(malloc(sizeof(queued_message)));
  if (queued == nullptr) return 0;
  *queued = {message, lparam};
  g_idle_add_full(G_PRIORITY_DEFAULT, deliver_message, queued, nullptr);
  return 1;
}

gboolean redraw(gpointer) {
  g_launcher.redraw_queued = false;
  if (is_open()) gtk_widget_queue_draw(g_launcher.widget);
  return G_SOURCE_REMOVE;
}

// Any thread.
void invalidate_from_anywhere(posix_window*) {
  std::lock_guard<std::mutex> guard(g_launcher.lock);
  if (g_launcher.open && !g_launcher.redraw_queued.exchange(true)) g_idle_add(redraw, nullptr);
}

// Window calls, UI thread.
int gtk_message_box(GtkWindow* owner, const wchar_t* text, const wchar_t* caption, unsigned style) {
  char utf8_text[4 * 4096 + 1];
  char utf8_caption[4 * 256 + 1];
  size_t bytes = wide_to_utf8(text, wcslen(text), utf8_text, sizeof utf8_text - 1);
  utf8_text[bytes] = '\0';
  bytes = wide_to_utf8(caption, wcslen(caption), utf8_caption, sizeof utf8_caption - 1);
  utf8_caption[bytes] = '\0';
  GtkMessageType type = (style & BOX_ERROR) == BOX_ERROR               ? GTK_MESSAGE_ERROR
                        : (style & BOX_QUESTION) == BOX_QUESTION       ? GTK_MESSAGE_QUESTION
                        : (style & BOX_INFORMATION) == BOX_INFORMATION ? GTK_MESSAGE_INFO
                                                                       : GTK_MESSAGE_OTHER;
  GtkWidget* dialog = gtk_message_dialog_new(owner, owner != nullptr ? GTK_DIALOG_MODAL : GtkDialogFlags(0), type,
                                             GTK_BUTTONS_NONE, "%s", utf8_text);
  // The buttons speak the launcher's language, whatever the system's.
  if (style & BOX_YES_NO) {
    gtk_dialog_add_buttons(GTK_DIALOG(dialog), "Oui", GTK_RESPONSE_YES, "Non", GTK_RESPONSE_NO, nullptr);
  } else {
    gtk_dialog_add_button(GTK_DIALOG(dialog), "OK", GTK_RESPONSE_OK);
  }
  gtk_window_set_title(GTK_WINDOW(dialog), utf8_caption);
  // As in the system's boxes, Return answers with the first button (yes, or OK).
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), (style & BOX_YES_NO) ? GTK_RESPONSE_YES : GTK_RESPONSE_OK);
  gtk_window_set_position(GTK_WINDOW(dialog), owner != nullptr ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
  gint response = gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  if (response == GTK_RESPONSE_YES) return BOX_ANSWER_YES;
  if (response == GTK_RESPONSE_NO) return 7;
  return response == GTK_RESPONSE_OK ? 1 : 2;
}

int window_message_box(const wchar_t* text, const wchar_t* caption, unsigned style) {
  return gtk_message_box(is_open() ? GTK_WINDOW(g_launcher.widget) : nullptr, text, caption, style);
}

struct menu_run {
  GMainLoop* loop;
  unsigned chosen;
};

void menu_item_chosen(GtkMenuItem* item, gpointer data) {
  static_cast<menu_run*>(data)->chosen = GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(item), "command"));
}

gboolean quit_menu_loop(gpointer data) {
  g_main_loop_quit(static_cast<menu_run*>(data)->loop);
  return G_SOURCE_REMOVE;
}

// The item's "activate" comes after the menu's "deactivate": leave the loop one turn later.
void menu_closed(GtkMenuShell*, gpointer data) { g_idle_add(quit_menu_loop, data); }

unsigned window_popup_menu(const menu_item* items, int count) {
  menu_run run{g_main_loop_new(nullptr, FALSE), 0};
  GtkWidget* menu = gtk_menu_new();
  for (int i = 0; i < count; ++i) {
    GtkWidget* entry;
    if (items[i].flags & MENU_SEPARATOR) {
      entry = gtk_separator_menu_item_new();
    } else {
      char label[4 * 256 + 1];
      size_t bytes = wide_to_utf8(items[i].text, wcslen(items[i].text), label, sizeof label - 1);
      label[bytes] = '\0';
      if (items[i].flags & MENU_CHECKED) {
        entry = gtk_check_menu_item_new_with_label(label);
        gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(entry), TRUE);
      } else {
        entry = gtk_menu_item_new_with_label(label);
      }
      gtk_widget_set_sensitive(entry, !(items[i].flags & MENU_GRAYED));
      g_object_set_data(G_OBJECT(entry), "command", GUINT_TO_POINTER(items[i].id));
      g_signal_connect(entry, "activate", G_CALLBACK(menu_item_chosen), &run);
    }
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), entry);
  }
  g_signal_connect(menu, "deactivate", G_CALLBACK(menu_closed), &run);
  if (is_open()) gtk_menu_attach_to_widget(GTK_MENU(menu), g_launcher.widget, nullptr);
  gtk_widget_show_all(menu);
  gtk_menu_popup_at_pointer(GTK_MENU(menu), nullptr);
  // A menu that could not take the pointer is not shown and never closes: nothing chosen.
  if (gtk_widget_get_visible(menu)) g_main_loop_run(run.loop);
  gtk_widget_destroy(menu);
  g_main_loop_unref(run.loop);
  return run.chosen;
}

void window_invalidate() {
  if (is_open()) gtk_widget_queue_draw(g_launcher.widget);
}

void window_paint_now() {
  if (!is_open()) return;
  GdkWindow* surface = gtk_widget_get_window(g_launcher.widget);
  gtk_widget_queue_draw(g_launcher.widget);
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  if (surface != nullptr) gdk_window_process_updates(surface, TRUE);
  G_GNUC_END_IGNORE_DEPRECATIONS
}

void window_minimise() {
  if (is_open()) gtk_window_iconify(GTK_WINDOW(g_launcher.widget));
}

void window_destroy() {
  if (is_open()) gtk_widget_destroy(g_launcher.widget);
}

// Signals of the GTK window.
gboolean on_draw(GtkWidget*, cairo_t* cr, gpointer) {
  cairo_surface_t* buffer = paint_off_screen(g_progress_mode.load());
  if (buffer == nullptr) return TRUE;
  cairo_set_source_surface(cr, buffer, 0, 0);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_paint(cr);
  cairo_surface_destroy(buffer);
  return TRUE;
}

gboolean on_motion(GtkWidget*, GdkEventMotion* event, gpointer) {
  on_mouse_move(static_cast<int>(std::floor(event->x)), static_cast<int>(std::floor(event->y)));
  return TRUE;
}

gboolean on_leave(GtkWidget*, GdkEventCrossing*, gpointer) {
  on_mouse_leave();
  return TRUE;
}

gboolean on_press(GtkWidget* widget, GdkEventButton* event, gpointer) {
  int x = static_cast<int>(std::floor(event->x));
  int y = static_cast<int>(std::floor(event->y));
  if (event->button == 1 && event->type == GDK_BUTTON_PRESS && in_drag_strip(x, y)) {
    gtk_window_begin_move_drag(GTK_WINDOW(widget), 1, static_cast<gint>(event->x_root),
                               static_cast<gint>(event->y_root), event->time);
  }
  return TRUE;
}

gboolean on_release(GtkWidget*, GdkEventButton* event, gpointer) {
  if (event->button == 1) {
    on_left_button_up(static_cast<int>(std::floor(event->x)), static_cast<int>(std::floor(event->y)));
  }
  return TRUE;
}

gboolean on_delete(GtkWidget*, GdkEvent*, gpointer) {
  on_close_request();
  return TRUE;  // the close request destroys the window itself when it should
}

gboolean on_refresh_timer(gpointer) {
  window_invalidate();
  return G_SOURCE_CONTINUE;
}

void on_destroyed(GtkWidget*, gpointer) {
  {
    std::lock_guard<std::mutex> guard(g_launcher.lock);
    g_launcher.open = false;
  }
  if (g_launcher.timer != 0) g_source_remove(g_launcher.timer);
  g_launcher.timer = 0;
  g_launcher.widget = nullptr;
  gtk_main_quit();
}

// The outline: rows of a rounded rectangle with an 18 x 18 corner ellipse.
cairo_region_t* rounded_outline() {
  cairo_region_t* region = cairo_region_create();
  const double radius = WINDOW_CORNER / 2.0;
  for (int y = 0; y < WINDOW_HEIGHT; ++y) {
    int inset = 0;
    double from_edge = y < radius                    ? radius - (y + 0.5)
                       : y >= WINDOW_HEIGHT - radius ? (y + 0.5) - (WINDOW_HEIGHT - radius)
                                                     : -1;
    if (from_edge > 0)
      inset = static_cast<int>(std::lround(radius - std::sqrt(radius * radius - from_edge * from_edge)));
    cairo_rectangle_int_t row = {inset, y, WINDOW_WIDTH - 2 * inset, 1};
    cairo_region_union_rectangle(region, &row);
  }
  return region;
}
}  // namespace

const window_calls k_platform_window_calls = {window_message_box, window_popup_menu, window_invalidate,
                                              window_paint_now,   window_minimise,   window_destroy};

int create_launcher_window() {
  if (!g_toolkit_started) return 0;
  g_launcher.base.post = post_to_window;
  g_launcher.base.invalidate = invalidate_from_anywhere;
  GtkWidget* widget = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  if (widget == nullptr) return 0;
  GtkWindow* window = GTK_WINDOW(widget);
  gtk_window_set_title(window, "Vorna380 - installation securisee");
  gtk_window_set_icon_name(window, VORNA380_APPLICATION_ID);
  gtk_window_set_decorated(window, FALSE);
  gtk_window_set_resizable(window, FALSE);
  gtk_widget_set_size_request(widget, WINDOW_WIDTH, WINDOW_HEIGHT);
  gtk_widget_set_app_paintable(widget, TRUE);
  gtk_widget_add_events(
      widget, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_LEAVE_NOTIFY_MASK);

  GdkRectangle screen = {0, 0, WINDOW_WIDTH, WINDOW_HEIGHT};
  GdkMonitor* monitor = gdk_display_get_primary_monitor(gdk_display_get_default());
  if (monitor == nullptr) monitor = gdk_display_get_monitor(gdk_display_get_default(), 0);
  if (monitor != nullptr) gdk_monitor_get_geometry(monitor, &screen);
  // Centred on the primary screen; on a smaller screen the position goes negative.
  gtk_window_move(window, screen.x + (screen.width - WINDOW_WIDTH) / 2, screen.y + (screen.height - WINDOW_HEIGHT) / 2);

  g_signal_connect(widget, "draw", G_CALLBACK(on_draw), nullptr);
  g_signal_connect(widget, "motion-notify-event", G_CALLBACK(on_motion), nullptr);
  g_signal_connect(widget, "leave-notify-event", G_CALLBACK(on_leave), nullptr);
  g_signal_connect(widget, "button-press-event", G_CALLBACK(on_press), nullptr);
  g_signal_connect(widget, "button-release-event", G_CALLBACK(on_release), nullptr);
  g_signal_connect(widget, "delete-event", G_CALLBACK(on_delete), nullptr);
  g_signal_connect(widget, "destroy", G_CALLBACK(on_destroyed), nullptr);

  cairo_region_t* outline = rounded_outline();
  gtk_widget_shape_combine_region(widget, outline);
  cairo_region_destroy(outline);

  {
    std::lock_guard<std::mutex> guard(g_launcher.lock);
    g_launcher.widget = widget;
    g_launcher.open = true;
  }
  g_window = &g_launcher.base;
  g_launcher.timer = g_timeout_add(REFRESH_PERIOD_MS, on_refresh_timer, nullptr);
  gtk_widget_show_all(widget);
  window_paint_now();
  return 1;
}

// SIGTERM (an uninstall, a session ending) closes the window as its close button does, so the
// launcher shuts down as after any close and ends with 0.
guint g_terminate_source = 0;

gboolean on_terminate(gpointer) {
  g_terminate_source = 0;
  window_destroy();
  return G_SOURCE_REMOVE;
}

void run_message_loop() {
  if (!is_open()) return;
  g_terminate_source = g_unix_signal_add(SIGTERM, on_terminate, nullptr);
  gtk_main();
  if (g_terminate_source != 0) g_source_remove(g_terminate_source);
  g_terminate_source = 0;
}

void show_startup_box(const wchar_t* text, unsigned style) {
  // Boxes before the graphics start (another launcher runs, installing failed) need the toolkit.
  if (start_toolkit()) {
    gtk_message_box(nullptr, text, L"Vorna380", style);
    return;
  }
  // No display to show a box on: the text goes to the standard error instead.
  char utf8[4 * 1024 + 1];
  size_t bytes = wide_to_utf8(text, wcslen(text), utf8, sizeof utf8 - 1);
  utf8[bytes] = '\0';
  fprintf(stderr, "Vorna380: %s\n", utf8);
}
