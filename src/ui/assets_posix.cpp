#include "ui/gtk_posix.h"

#include <png.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/os.h"
#include "ui/assets.h"
#include "ui/graphics_posix.h"
#include "ui/window.h"

// The PNG files are built into the executable as they are on disk.
#define EMBED_ART(symbol, file)                                                                         \
  asm(".section .rodata\n.balign 16\n.global " #symbol "\n" #symbol ":\n.incbin \"" UI_ART_DIR "/" file \
      "\"\n.global " #symbol "_end\n" #symbol "_end:\n.previous\n");
EMBED_ART(vorna380_art_201, "background.png")
EMBED_ART(vorna380_art_202, "frame.png")
EMBED_ART(vorna380_art_203, "progress-background.png")
EMBED_ART(vorna380_art_204, "progress-fill.png")
EMBED_ART(vorna380_art_205, "state-wait.png")
EMBED_ART(vorna380_art_206, "state-ready.png")
EMBED_ART(vorna380_art_207, "state-error.png")
EMBED_ART(vorna380_art_208, "close.png")
EMBED_ART(vorna380_art_209, "close-hover.png")

extern "C" {
#define DECLARE_ART(n) extern const unsigned char vorna380_art_##n[], vorna380_art_##n##_end[];
DECLARE_ART(201)
DECLARE_ART(202)
DECLARE_ART(203) DECLARE_ART(204) DECLARE_ART(205) DECLARE_ART(206) DECLARE_ART(207) DECLARE_ART(208) DECLARE_ART(209)
}

int g_toolkit_started = 0;

namespace {
constexpr int TOOLKIT_ATTEMPTS = 5;
constexpr uint32_t TOOLKIT_RETRY_PAUSE_MS = 200;

struct embedded_art {
  const unsigned char* begin;
  const unsigned char* end;
};
#define ART_ENTRY(n) \
  { vorna380_art_##n, vorna380_art_##n##_end }
const embedded_art k_art[IMAGE_RESOURCE_COUNT] = {
    ART_ENTRY(201), ART_ENTRY(202), ART_ENTRY(203), ART_ENTRY(204), ART_ENTRY(205),
    ART_ENTRY(206), ART_ENTRY(207), ART_ENTRY(208), ART_ENTRY(209),
};

struct font_size_and_weight {
  int height;
  PangoWeight weight;
};
// Title, subtitle, status and detail: character heights in pixels and weights.
const font_size_and_weight k_fonts[4] = {
    {32, PANGO_WEIGHT_BOLD}, {16, PANGO_WEIGHT_SEMIBOLD}, {18, PANGO_WEIGHT_SEMIBOLD}, {14, PANGO_WEIGHT_NORMAL}};
PangoFontDescription* g_fonts[4];

PangoFontDescription* make_font(const font_size_and_weight& wanted) {
  PangoFontDescription* font = pango_font_description_new();
  pango_font_description_set_family(font, "Segoe UI");
  pango_font_description_set_absolute_size(font, wanted.height * PANGO_SCALE);
  pango_font_description_set_weight(font, wanted.weight);
  return font;
}
}  // namespace

PangoFontDescription* font_of(ui_font font) { return g_fonts[font]; }

namespace {
// One image decoded from its PNG bytes into 8-bit RGB or RGBA rows, as a GdkPixbuf holds them.
struct decoded_art {
  unsigned char* pixels;  // malloc'd; null when not decoded
  int width;
  int height;
  int stride;
  bool alpha;
};
decoded_art g_decoded[IMAGE_RESOURCE_COUNT];  // decoded ahead of their loading

// With libpng alone: no GLib type or lock, so that it runs beside GTK's start.
bool decode_art(const embedded_art& art, decoded_art* decoded) {
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  size_t size = static_cast<size_t>(art.end - art.begin);
  if (size == 0 || !png_image_begin_read_from_memory(&image, art.begin, size)) return false;
  bool alpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  image.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  size_t stride = (static_cast<size_t>(PNG_IMAGE_ROW_STRIDE(image)) + 3) & ~static_cast<size_t>(3);
  unsigned char* pixels = nullptr;
  if (image.height > 0 && image.width <= INT32_MAX / 4 && stride <= SIZE_MAX / image.height) {
    pixels = static_cast<unsigned char*>(malloc(stride * image.height));
  }
  if (pixels == nullptr) {
    png_image_free(&image);
    return false;
  }
  // Frees the image's reading state whatever the outcome.
  if (!png_image_finish_read(&image, nullptr, pixels, static_cast<png_int_32>(stride), nullptr)) {
    free(pixels);
    return false;
  }
  *decoded = {pixels, static_cast<int>(image.width), static_cast<int>(image.height), static_cast<int>(stride), alpha};
  return true;
}

void decode_all_art(void*) {
  for (int i = 0; i < IMAGE_RESOURCE_COUNT; ++i) decode_art(k_art[i], &g_decoded[i]);
}

void release_decoded_art() {
  for (decoded_art& art : g_decoded) {
    free(art.pixels);
    art.pixels = nullptr;
  }
}

void free_pixels(guchar* pixels, gpointer) { free(pixels); }
}  // namespace

int load_resource_image(int number, resource_image* destination) {
  dispose_resource_image(destination);
  int index = number - FIRST_IMAGE_RESOURCE;
  if (index < 0 || index >= IMAGE_RESOURCE_COUNT) return 0;
  decoded_art art = g_decoded[index];
  g_decoded[index].pixels = nullptr;
  if (art.pixels == nullptr && !decode_art(k_art[index], &art)) return 0;
  GdkPixbuf* image = gdk_pixbuf_new_from_data(art.pixels, GDK_COLORSPACE_RGB, art.alpha, 8, art.width, art.height,
                                              art.stride, free_pixels, nullptr);
  if (image == nullptr) free(art.pixels);
  destination->image = image;
  return image != nullptr;
}

void dispose_resource_image(resource_image* image) {
  if (image->image != nullptr) g_object_unref(static_cast<GdkPixbuf*>(image->image));
  image->image = nullptr;
  image->stream = nullptr;
}

int resource_image_size(const resource_image* image, int* width, int* height) {
  if (image->image == nullptr) return 0;
  *width = gdk_pixbuf_get_width(static_cast<GdkPixbuf*>(image->image));
  *height = gdk_pixbuf_get_height(static_cast<GdkPixbuf*>(image->image));
  return 1;
}

int start_toolkit() {
  // The window's class names the desktop entry (StartupWMClass), whatever the program's file
  // is called, so that a dock shows the entry's icon for it.
  g_set_prgname(VORNA380_APPLICATION_ID);
  // A display server busy with other clients can refuse a connection for a moment (its queue
  // of waiting connections full): a few more tries before the launcher gives up.
  for (int attempt = 0; !g_toolkit_started && attempt < TOOLKIT_ATTEMPTS; ++attempt) {
    if (attempt > 0) os_sleep_ms(TOOLKIT_RETRY_PAUSE_MS);
    g_toolkit_started = gtk_init_check(nullptr, nullptr);
  }
  // GTK names the class after the program, capitalised; the entry names it as it is.
  if (g_toolkit_started) gdk_set_program_class(VORNA380_APPLICATION_ID);
  return g_toolkit_started;
}

int start_ui_graphics() {
  // The images are decoded on a thread of their own while GTK starts: the background alone
  // takes about as long to decode as GTK to start.
  os_thread* decoder = os_thread_start(decode_all_art, nullptr);
  start_toolkit();
  if (decoder != nullptr) os_thread_join(decoder, OS_WAIT_FOREVER);
  int loaded = g_toolkit_started && load_ui_images();
  release_decoded_art();  // what was not taken
  if (!loaded) return 0;
  for (int i = 0; i < 4; ++i) g_fonts[i] = make_font(k_fonts[i]);
  for (int i = 0; i < 4; ++i) {
    if (g_fonts[i] == nullptr) return 0;
  }
  return 1;
}

void dispose_ui_assets() {
  dispose_ui_images();
  release_scaled_background();
  for (PangoFontDescription*& font : g_fonts) {
    if (font != nullptr) pango_font_description_free(font);
    font = nullptr;
  }
  // Messages posted to the window after it closed still hold their texts: let them go.
  if (g_toolkit_started) {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
  }
}
