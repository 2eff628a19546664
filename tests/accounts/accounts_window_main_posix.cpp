#include <string>
#include <vector>

#include "accounts_window.h"
#include "support/test_support.h"

int main(int argc, char** argv) {
  std::vector<std::wstring> args;
  std::vector<wchar_t*> pointers;
  for (int i = 0; i < argc; ++i) args.push_back(from_utf8(argv[i]));
  for (auto& arg : args) pointers.push_back(arg.data());
  return run_accounts_window(argc, pointers.data());
}
