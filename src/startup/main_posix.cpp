#include <cstdlib>
#include <cstring>

#include "core/text.h"
#include "startup/entry.h"

// Arguments arrive split; each is taken as strict UTF-8. One that is not counts as a command
// line that cannot be split.
int main(int argc, char** argv) {
  // The window is drawn with cairo alone: GTK is told not to set up OpenGL, whose drivers (a
  // software renderer among them) take longer to load than the rest of the start. Set before
  // any thread runs; a value the user chose stays.
  setenv("GDK_GL", "disable", 0);
  wchar_t** wide = static_cast<wchar_t**>(calloc(static_cast<size_t>(argc) + 1, sizeof(wchar_t*)));
  bool ok = wide != nullptr;
  for (int i = 0; ok && i < argc; ++i) {
    size_t bytes = strlen(argv[i]);
    wide[i] = static_cast<wchar_t*>(malloc((bytes + 1) * sizeof(wchar_t)));
    if (wide[i] == nullptr) {
      ok = false;
      break;
    }
    size_t units = bytes == 0 ? 0 : utf8_to_wide(argv[i], bytes, wide[i], bytes);
    if (bytes != 0 && units == 0) ok = false;
    wide[i][units] = L'\0';
  }
  int code = launcher_main(ok ? argc : 0, ok ? wide : nullptr);
  for (int i = 0; wide != nullptr && i < argc; ++i) free(wide[i]);
  free(wide);
  return code;
}
