#include "ui_test_platform.h"

// GdkPixbuf decodes without a display or any start-up.
int start_image_decoder() { return 1; }
void stop_image_decoder() {}
