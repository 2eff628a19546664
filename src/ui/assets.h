// The nine images kept in the executable, loaded at start-up and released at the end.
#pragma once

// A loaded image and the memory stream it was decoded from (the stream lives as long as the
// image). Windows: GpImage* and IStream*; Linux: GdkPixbuf* and no stream. Both null: not
// loaded.
struct resource_image {
  void* image;
  void* stream;
};

constexpr int FIRST_IMAGE_RESOURCE = 201;
constexpr int IMAGE_RESOURCE_COUNT = 9;

extern resource_image g_background;           // 201, 1672 x 941, the only one painted
extern resource_image g_frame;                // 202, 757 x 516
extern resource_image g_progress_background;  // 203, 662 x 18
extern resource_image g_progress_fill;        // 204, 662 x 18
extern resource_image g_state_wait;           // 205, 38 x 50
extern resource_image g_state_ready;          // 206, 38 x 50
extern resource_image g_state_error;          // 207, 38 x 50
extern resource_image g_close_image;          // 208, 16 x 19
extern resource_image g_close_hover_image;    // 209, 16 x 19

// The image of a resource number (201 to 209), or null.
resource_image* image_of_resource(int number);

// Loads 201 to 209 in ascending order; 0 at the first that fails.
int load_ui_images();
// Releases all nine, 209 down to 201; safe on a partly loaded set.
void dispose_ui_images();

// Platform halves. The destination is emptied first; 1 when loaded.
int load_resource_image(int number, resource_image* destination);
void dispose_resource_image(resource_image* image);
// Pixel size of a loaded image; 0 when it is not loaded.
int resource_image_size(const resource_image* image, int* width, int* height);
