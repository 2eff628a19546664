#include "install_fixture.h"

#include <algorithm>
#include <regex>

#include "core/journal.h"
#include "core/text.h"
#include "install_test_platform.h"

InstallTest::InstallTest() {
  copy_text(g_root, PATH_UNITS, root.path.c_str());
  copy_text(g_client, PATH_UNITS, client.c_str());
}

InstallTest::~InstallTest() {
  copy_text(g_root, PATH_UNITS, saved_root.c_str());
  copy_text(g_client, PATH_UNITS, saved_client.c_str());
}

void InstallTest::make_release(const std::wstring& folder, const std::string& release) const {
  ASSERT_TRUE(make_dirs(join(folder, L"data")));
  ASSERT_TRUE(write_bytes(join(folder, L"release.txt"), release));
  ASSERT_TRUE(write_bytes(join(folder, L"data/common.bin"), release + " data"));
}

std::string InstallTest::release_in(const std::wstring& folder) const {
  if (!file_exists(folder)) return "absent";
  if (!file_exists(join(folder, L"release.txt"))) return "file";
  return read_bytes(join(folder, L"release.txt"));
}

std::vector<std::wstring> InstallTest::rollbacks() const {
  static const std::wregex pattern(L"Client\\.rollback\\.[0-9a-f]{16}\\.[0-9]+");
  std::vector<std::wstring> found;
  for (const auto& name : folder_names(root.path)) {
    if (std::regex_match(name, pattern)) found.push_back(root / name);
  }
  std::sort(found.begin(), found.end());
  return found;
}

std::string error_line_start(const std::string& label, uint32_t code) {
  return label + " (" + to_utf8(k_system_error_label) + " " + std::to_string(code) + ")";
}
