#include <windows.h>
#include <shellapi.h>

#include "window_demo.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  int code = argv != nullptr ? run_window_demo(argc, argv) : 2;
  if (argv != nullptr) LocalFree(argv);
  return code;
}
