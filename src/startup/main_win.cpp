#include <windows.h>
#include <shellapi.h>

#include "startup/entry.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  int code = launcher_main(argv != nullptr ? argc : 0, argv);
  if (argv != nullptr) LocalFree(argv);
  return code;
}
