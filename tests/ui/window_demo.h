#pragma once

int run_window_demo(int argc, wchar_t** argv);
