// Placeholder until the install worker lands: it ends the start-up with a visible error.
#include "core/status.h"
#include "install/install_worker.h"

#ifdef _WIN32
unsigned long __stdcall install_worker(void*) {
#else
void* install_worker(void*) {
#endif
  post_text(WM_LAUNCHER_ERROR, L"La verification du client n'est pas encore disponible.");
  return 0;
}
