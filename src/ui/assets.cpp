#include "ui/assets.h"

resource_image g_background;
resource_image g_frame;
resource_image g_progress_background;
resource_image g_progress_fill;
resource_image g_state_wait;
resource_image g_state_ready;
resource_image g_state_error;
resource_image g_close_image;
resource_image g_close_hover_image;

namespace {
resource_image* const k_images[IMAGE_RESOURCE_COUNT] = {
    &g_background,  &g_frame, &g_progress_background, &g_progress_fill, &g_state_wait, &g_state_ready,
    &g_state_error, &g_close_image, &g_close_hover_image,
};
}  // namespace

resource_image* image_of_resource(int number) {
  int index = number - FIRST_IMAGE_RESOURCE;
  return index >= 0 && index < IMAGE_RESOURCE_COUNT ? k_images[index] : nullptr;
}

int load_ui_images() {
  for (int i = 0; i < IMAGE_RESOURCE_COUNT; ++i) {
    if (!load_resource_image(FIRST_IMAGE_RESOURCE + i, k_images[i])) return 0;
  }
  return 1;
}

void dispose_ui_images() {
  for (int i = IMAGE_RESOURCE_COUNT - 1; i >= 0; --i) dispose_resource_image(k_images[i]);
}
