#include <cstring>
#include <string>
#include <vector>

#include "core/text.h"
#include "journal_writer.h"

int main(int argc, char** argv) {
  std::vector<std::wstring> wide;
  for (int i = 0; i < argc; ++i) {
    size_t length = strlen(argv[i]);
    std::wstring text(length, L'\0');
    text.resize(length == 0 ? 0 : utf8_to_wide(argv[i], length, text.data(), text.size()));
    if (length != 0 && text.empty()) return 2;
    wide.push_back(text);
  }
  std::vector<const wchar_t*> pointers;
  for (const auto& text : wide) pointers.push_back(text.c_str());
  return run_journal_writer(argc, pointers.data());
}
