// The choice of mode from the command line, checked in-process with recording modes so that
// no command line can reach the real interactive start (which would open a window).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "startup/entry.h"

namespace {
std::wstring g_called;  // "mode:arg1|arg2" of the last mode run

int record_update(const wchar_t* id) {
  g_called = L"update:" + std::wstring(id);
  return 10;
}
int record_release(const wchar_t* m, const wchar_t* s) {
  g_called = L"release:" + std::wstring(m) + L"|" + s;
  return 11;
}
int record_integrity(const wchar_t* f, const wchar_t* d) {
  g_called = L"integrity:" + std::wstring(f) + L"|" + d;
  return 12;
}
int record_uninstall(int remove_accounts) {
  g_called = remove_accounts ? L"uninstall:accounts" : L"uninstall";
  return 14;
}
int record_interactive() {
  g_called = L"interactive";
  return 13;
}

const launcher_modes k_recording = {record_update, record_release, record_integrity, record_uninstall,
                                     record_interactive};

// Dispatches "launcher.exe ARGS..." and returns what was run.
std::wstring dispatch(std::vector<std::wstring> args) {
  args.insert(args.begin(), L"launcher.exe");
  std::vector<wchar_t*> argv;
  for (std::wstring& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  g_called.clear();
  int code = dispatch_command_line(static_cast<int>(args.size()), argv.data(), k_recording);
  int expected = g_called.rfind(L"update", 0) == 0      ? 10
                 : g_called.rfind(L"release", 0) == 0   ? 11
                 : g_called.rfind(L"integrity", 0) == 0 ? 12
                 : g_called == L"interactive"           ? 13
                 : g_called.rfind(L"uninstall", 0) == 0 ? 14
                                                        : -1;
  EXPECT_EQ(code, expected) << "the mode's exit code is the process's";
  return g_called;
}
}  // namespace

TEST(CommandLineDispatch, ExactSwitchesWithTheirArgumentCountsSelectTheirModes) {
  EXPECT_EQ(dispatch({L"--verify-release", L"m", L"s"}), L"release:m|s");
  EXPECT_EQ(dispatch({L"--verify-integrity", L"C:\\Client", L"abc"}), L"integrity:C:\\Client|abc");
  EXPECT_EQ(dispatch({L"--apply-self-update", L"1234"}), L"update:1234");
  EXPECT_EQ(dispatch({L"--uninstall"}), L"uninstall");
  EXPECT_EQ(dispatch({L"--uninstall", L"--remove-accounts"}), L"uninstall:accounts");
  EXPECT_EQ(dispatch({}), L"interactive") << "no arguments";
}

TEST(CommandLineDispatch, AnythingButAnExactSwitchStartsTheInteractiveLauncher) {
  const std::vector<std::vector<std::wstring>> others = {
      {L"--verify-release", L"m"},
      {L"--verify-release"},
      {L"--verify-release", L"m", L"s", L"s"},
      {L"--VERIFY-RELEASE", L"m", L"s"},
      {L"--Verify-Release", L"m", L"s"},
      {L"-verify-release", L"m", L"s"},
      {L"--verify-release ", L"m", L"s"},
      {L"m", L"--verify-release", L"s"},
      {L"m", L"s", L"--verify-release"},
      {L"--VERIFY-INTEGRITY", L"d", L"x"},
      {L"d", L"--verify-integrity", L"x"},
      {L"--verify-integrity", L"d"},
      {L"--apply-self-update"},
      {L"--apply-self-update", L"1", L"2"},
      {L"--Apply-Self-Update", L"1"},
      {L"--uninstall", L"--remove-accounts", L"x"},
      {L"--uninstall", L"x"},
      {L"--remove-accounts", L"--uninstall"},
      {L""},
  };
  for (const auto& args : others) {
    std::wstring shown;
    for (const auto& arg : args) shown += L"[" + arg + L"]";
    EXPECT_EQ(dispatch(args), L"interactive") << std::string(shown.begin(), shown.end());
  }
}

TEST(CommandLineDispatch, ACommandLineThatCouldNotBeSplitIsTheInteractiveStart) {
  g_called.clear();
  EXPECT_EQ(dispatch_command_line(0, nullptr, k_recording), 13);
  EXPECT_EQ(g_called, L"interactive");
}
