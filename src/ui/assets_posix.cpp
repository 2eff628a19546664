#include "ui/gtk_posix.h"

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
DECLARE_ART(202) DECLARE_ART(203) DECLARE_ART(204) DECLARE_ART(205) DECLARE_ART(206) DECLARE_ART(207) DECLARE_ART(208)
    DECLARE_ART(209)
}

int g_toolkit_started = 0;

namespace {
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

int load_resource_image(int number, resource_image* destination) {
  dispose_resource_image(destination);
  int index = number - FIRST_IMAGE_RESOURCE;
  if (index < 0 || index >= IMAGE_RESOURCE_COUNT) return 0;
  const embedded_art& art = k_art[index];
  size_t size = static_cast<size_t>(art.end - art.begin);
  if (size == 0) return 0;
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("png", nullptr);
  if (loader == nullptr) return 0;
  GdkPixbuf* image = nullptr;
  bool written = gdk_pixbuf_loader_write(loader, art.begin, size, nullptr);
  if (gdk_pixbuf_loader_close(loader, nullptr) && written) image = gdk_pixbuf_loader_get_pixbuf(loader);
  if (image != nullptr) g_object_ref(image);
  g_object_unref(loader);
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

int start_ui_graphics() {
  if (!g_toolkit_started) g_toolkit_started = gtk_init_check(nullptr, nullptr);
  if (!g_toolkit_started || !load_ui_images()) return 0;
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
