#include "ui/window_calls.h"

const window_calls* g_window_calls = &k_platform_window_calls;
