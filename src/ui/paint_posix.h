// The Linux painting: the whole window drawn into an off-screen image.
#pragma once

#include "ui/gtk_posix.h"

#include <cstdint>

// A 1106 x 676 image of the window as painted now (the caller destroys it), or null.
cairo_surface_t* paint_off_screen(int32_t progress_mode);
