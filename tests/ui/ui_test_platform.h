// What the image test needs from the platform: the decoder started without a window.
#pragma once

int start_image_decoder();
void stop_image_decoder();
