#include "journal_writer.h"

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "core/journal.h"
#include "core/paths.h"
#include "core/platform.h"
#include "core/text.h"

namespace {
int wait_for_file(const wchar_t* path) {
  auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (;;) {
    uint32_t length = 0;
    char* content = read_file(path, 64, &length);
    if (content != nullptr) {
      free(content);
      return 1;
    }
    if (std::chrono::steady_clock::now() > limit) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}
}  // namespace

int run_journal_writer(int argc, const wchar_t* const* argv) {
  if (argc != 7) return 2;
  wchar_t* end = nullptr;
  long count = wcstol(argv[3], &end, 10);
  if (end == argv[3] || *end != L'\0' || count < 2) return 2;
  copy_text(g_log, PATH_UNITS, argv[1]);

  if (!wait_for_file(argv[4])) return 3;
  for (long i = 0; i < count; ++i) {
    if (i == count / 2) {
      journal_append(argv[5], "1", 1);
      if (!wait_for_file(argv[6])) return 3;
    }
    std::wstring line = std::wstring(argv[2]) + L" " + std::to_wstring(i);
    write_log(line.c_str());
  }
  return 0;
}
