// The Linux port runs the Windows game through the wine found on the PATH.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "accounts/accounts.h"
#include "accounts_fixture.h"
#include "accounts_test_platform.h"

namespace {
// A "wine" of the test's own records its working folder and its arguments.
class WindowsGame : public AccountsTest {
 protected:
  void SetUp() override {
    AccountsTest::SetUp();
    ASSERT_TRUE(make_dirs(dir / L"Client"));
    ASSERT_TRUE(write_bytes(dir / L"Client/Tarvo.exe", std::string("MZ\x90\0", 4) + "PE"));
    saved_path = get_variable(L"PATH");
  }
  void TearDown() override {
    set_variable(L"PATH", saved_path);
    AccountsTest::TearDown();
  }

  temp_dir bin;
  std::wstring saved_path;
};
}  // namespace

TEST_F(WindowsGame, RunsThroughWineFromThePathInTheClientFolder) {
  std::wstring record = bin / L"wine-record.txt";
  ASSERT_TRUE(write_bytes(bin / L"wine", "#!/bin/sh\nprintf '%s\\n%s|%s\\n' \"$PWD\" \"$#\" \"$1\" > '" +
                                             to_utf8(record) + ".tmp'\nmv '" + to_utf8(record) + ".tmp' '" +
                                             to_utf8(record) + "'\n"));
  ASSERT_TRUE(make_executable(bin / L"wine"));
  set_variable(L"PATH", L"/nonexistent::" + bin.path + L":" + saved_path);
  ASSERT_EQ(launch_game(), 1);
  std::string recorded;
  for (int i = 0; i < 3000 && (recorded = read_bytes(record)).empty(); ++i) usleep(10000);
  EXPECT_EQ(recorded, to_utf8(dir / L"Client") + "\n1|" + to_utf8(dir / L"Client/Tarvo.exe") + "\n");
}

TEST_F(WindowsGame, WithoutWineTheGameDoesNotStart) {
  set_variable(L"PATH", bin.path);
  EXPECT_EQ(launch_game(), 0);
  EXPECT_EQ(capture.messages(), std::vector<std::string>{"Echec ouverture Tarvo.exe (erreur systeme 2)."});
}
