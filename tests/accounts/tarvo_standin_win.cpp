#include <windows.h>

#include "tarvo_standin.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return run_tarvo_standin(); }
