// A launcher root of its own for each installation test: g_root, g_client and the journal point
// into a scratch folder for the test's duration.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/paths.h"
#include "support/journal_lines.h"
#include "support/test_support.h"

class InstallTest : public ::testing::Test {
 protected:
  temp_dir root;
  std::wstring client = root / L"Client";
  std::wstring staging = root / L"Client.new";
  journal_capture journal{root / L"launcher.log"};
  std::wstring saved_root = g_root;
  std::wstring saved_client = g_client;

  InstallTest();
  ~InstallTest() override;

  // A client folder whose release.txt names the release.
  void make_release(const std::wstring& folder, const std::string& release) const;
  // The release in a folder: its release.txt, "absent" when nothing is there, "file" for a file.
  std::string release_in(const std::wstring& folder) const;
  // Full paths of the rollback folders in the root, oldest first.
  std::vector<std::wstring> rollbacks() const;
};

// "label (erreur Windows N)" or "label (erreur systeme N)": how a journal line of a failed
// system call starts.
std::string error_line_start(const std::string& label, uint32_t code);
