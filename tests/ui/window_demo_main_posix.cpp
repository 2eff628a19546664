#include <cstdlib>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "window_demo.h"

int main(int argc, char** argv) {
  std::vector<std::wstring> args;
  std::vector<wchar_t*> pointers;
  for (int i = 0; i < argc; ++i) args.push_back(from_utf8(argv[i]));
  for (auto& arg : args) pointers.push_back(arg.data());
  return run_window_demo(argc, pointers.data());
}
