// The PowerShell stand-in's fault switches, which later tests use to make a job misbehave.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <chrono>

#include "core/os.h"
#include "support/journal_lines.h"
#include "support/release_server.h"
#include "support/test_support.h"
#include "transfer/job_support.h"

namespace {
class StandInFault : public release_server_test, protected job_scratch {
 protected:  std::wstring destination = dir / L"Vorna380.package.zip";
  std::string body;

  void SetUp() override {
    release_server_test::SetUp();
    body = fault_file(L"exact-1mib.bin");
    ASSERT_TRUE(write_bytes(destination, "old"));
  }
  void TearDown() override { SetEnvironmentVariableW(L"VORNA380_STANDIN_FAULT", nullptr); }
  int download_with(const wchar_t* fault) {
    SetEnvironmentVariableW(L"VORNA380_STANDIN_FAULT", fault);
    return run_download(origin_url(L"fault/exact-1mib.bin"), destination);
  }
};
}  // namespace

TEST_F(StandInFault, FailPartialAndStall) {
  EXPECT_EQ(download_with(L"fail"), 0);
  EXPECT_FALSE(file_exists(destination));

  EXPECT_EQ(download_with(L"partial"), 0);
  EXPECT_EQ(read_bytes(destination), body.substr(0, body.size() / 2));

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(download_with(L"stall=300"), 1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_EQ(read_bytes(destination), body);
  EXPECT_EQ(journal.messages(), (std::vector<std::string>{"Le processus auxiliaire a echoue (code 1).",
                                                          "Le processus auxiliaire a echoue (code 1)."}));
}

// The job's variables reach the child only: one the launcher's own environment holds is
// neither changed nor handed on in place of the job's.
TEST_F(StandInFault, TheJobsVariablesReachOnlyTheChild) {
  SetEnvironmentVariableW(L"VORNA380_DOWNLOAD_URL", L"https://localhost:1/left-by-the-caller");
  int result = run_download(origin_url(L"fault/exact-1mib.bin"), destination);
  wchar_t own[64] = {};
  DWORD units = GetEnvironmentVariableW(L"VORNA380_DOWNLOAD_URL", own, 64);
  SetEnvironmentVariableW(L"VORNA380_DOWNLOAD_URL", nullptr);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(read_bytes(destination), body);
  EXPECT_EQ(std::wstring(own, units), L"https://localhost:1/left-by-the-caller");
  EXPECT_EQ(GetEnvironmentVariableW(L"VORNA380_DOWNLOAD_DEST", own, 64), 0u);
}

// A launcher killed in the middle of a download takes its child with it: the child must not go
// on writing into a file the next start works on.
TEST_F(StandInFault, AKilledLauncherTakesItsChildWithIt) {
  SetEnvironmentVariableW(L"VORNA380_STANDIN_FAULT", L"stall=60000");
  os_delete_file(destination.c_str());
  intptr_t launcher = start_program({TRANSFER_JOB_PATH, L"download", origin_url(L"fault/exact-1mib.bin"), destination});
  ASSERT_NE(launcher, 0);
  for (int i = 0; i < 3000 && read_bytes(destination).size() < body.size() / 2; ++i) Sleep(10);
  ASSERT_EQ(read_bytes(destination).size(), body.size() / 2) << "the child stalls half-way";
  DWORD launcher_id = GetProcessId(reinterpret_cast<HANDLE>(launcher));
  DWORD child_id = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ParentProcessID == launcher_id) child_id = entry.th32ProcessID;
  }
  CloseHandle(snapshot);
  ASSERT_NE(child_id, 0u);
  HANDLE child = OpenProcess(SYNCHRONIZE, FALSE, child_id);
  ASSERT_NE(child, nullptr);

  TerminateProcess(reinterpret_cast<HANDLE>(launcher), 9);
  EXPECT_EQ(wait_program(launcher, 10000), 9);
  EXPECT_EQ(WaitForSingleObject(child, 20000), WAIT_OBJECT_0) << "the child outlived the launcher";
  CloseHandle(child);
  EXPECT_EQ(read_bytes(destination).size(), body.size() / 2);
}
