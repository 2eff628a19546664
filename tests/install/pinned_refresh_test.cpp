// The light update against the real release server, serving releases published by the
// project's own tool.
#include <cwctype>
#include <regex>

#include "install/pinned_refresh.h"
#include "install_fixture.h"
#include "support/release_server.h"
#include "trust/manifest.h"

namespace {
const char k_launcher_status[] = "Mise a jour legere du launcher graphique...";
const char k_skills_status[] = "Import des ateliers gemmotaille...";
const char k_bestiary_status[] = "Import du routage Bestiaire...";

// Destination, server path and the development content of each pinned row.
struct published {
  std::wstring destination;
  std::string server_path;
  std::string label;
};
const published k_rows[] = {
    {L"Moorbridge.exe", "/dl/Moorbridge.exe", "pin_updater"},
    {L"Moorbridge_d.exe", "/dl/Moorbridge_d.exe", "pin_updater"},
    {L"Vorna380.LauncherUi.dll", "/dl/Vorna380.LauncherUi.dll", "pin_launcher_ui"},
    {L"data/common/Skills.k5o", "/dl/client-delta/Skills.k5o", "pin_skills"},
    {L"data/common/data.meta", "/dl/client-delta/common-data.meta", "pin_common_meta"},
    {L"ui/Orlune_Common/Common.swf", "/dl/client-delta/Common.swf", "C10"},
    {L"ui/Orlune_Taxi/Taxi.swf", "/dl/client-delta/Taxi.swf", "T9"},
    {L"ui/Orlune_ContextMenu/ContextMenu.swf", "/dl/client-delta/ContextMenu.swf", "M5"},
    {L"client-integrity.sha256", "/dl/client-integrity.sha256", ""},
};

class PinnedRefresh : public InstallTest {
 protected:
  release_manifest manifest = {};
  std::string served_list;

  void SetUp() override {
    REQUIRE_RELEASE_SERVER();
    ASSERT_TRUE(serve_release(L"good"));
    std::string text = read_bytes(fixture_path(L"releases/good/dl/Vorna380.release.manifest"));
    ASSERT_EQ(parse_manifest(text.c_str(), &manifest), 1);
    served_list = read_bytes(fixture_path(L"releases/good/dl/client-integrity.sha256"));
    // An installed client one release behind in every pinned file.
    for (const published& row : k_rows) {
      std::wstring path = join(client, row.destination);
      ASSERT_TRUE(make_dirs(path.substr(0, path.rfind(PATH_SEPARATOR))));
      ASSERT_TRUE(write_bytes(path, "older " + to_utf8(row.destination)));
    }
  }
  std::string content_of(size_t row) const { return read_bytes(join(client, k_rows[row].destination)); }
  std::string expected_of(size_t row) const {
    return k_rows[row].label.empty() ? served_list : dev_content(k_rows[row].label);
  }
  bool is_older(size_t row) const { return content_of(row) == "older " + to_utf8(k_rows[row].destination); }
  std::wstring temporary() const { return root / L"launcher-delta.tmp"; }
  // The paths requested from the server, in order.
  static std::vector<std::string> requested(const access_log& log, const std::string& last) {
    static const std::regex get("\"GET (/[^ ]*) HTTP");
    std::string lines = log.since(last);
    std::vector<std::string> paths;
    for (std::sregex_iterator it(lines.begin(), lines.end(), get), end; it != end; ++it) paths.push_back((*it)[1]);
    return paths;
  }
  static std::vector<std::string> server_paths(size_t count) {
    std::vector<std::string> paths;
    for (size_t i = 0; i < count; ++i) paths.push_back(k_rows[i].server_path);
    return paths;
  }
};
}  // namespace

TEST_F(PinnedRefresh, AllNineRowsAreReplacedInTheirOrder) {
  // A file that already holds the published content is fetched and replaced all the same.
  ASSERT_TRUE(write_bytes(join(client, k_rows[2].destination), expected_of(2)));
  ASSERT_TRUE(write_bytes(temporary(), "left by an interrupted refresh"));
  access_log log;
  ASSERT_EQ(refresh_pinned_files(&manifest), 1);
  for (size_t row = 0; row < PINNED_ROW_COUNT; ++row) EXPECT_EQ(content_of(row), expected_of(row)) << row;
  EXPECT_FALSE(file_exists(temporary()));
  EXPECT_EQ(requested(log, k_rows[8].server_path), server_paths(9));
  EXPECT_EQ(journal.messages(), (std::vector<std::string>{k_launcher_status, k_skills_status, k_bestiary_status}));
}

TEST_F(PinnedRefresh, ClientWithoutTheTaxiFolderStopsAtRowSeven) {
  remove_tree(join(client, L"ui/Orlune_Taxi"));
  access_log log;
  ASSERT_EQ(refresh_pinned_files(&manifest), 0);
  for (size_t row = 0; row < 6; ++row) EXPECT_EQ(content_of(row), expected_of(row)) << row;
  EXPECT_FALSE(file_exists(join(client, L"ui/Orlune_Taxi")));
  EXPECT_TRUE(is_older(7));
  EXPECT_TRUE(is_older(8));
  EXPECT_FALSE(file_exists(temporary()));
  EXPECT_EQ(requested(log, k_rows[6].server_path), server_paths(7));
  EXPECT_EQ(journal.messages(), (std::vector<std::string>{k_launcher_status, k_skills_status, k_bestiary_status}));
}

TEST_F(PinnedRefresh, SecondUpdaterCopyWithOtherContentFailsRowTwo) {
  ASSERT_TRUE(serve_release(L"other-updater-copy"));
  access_log log;
  ASSERT_EQ(refresh_pinned_files(&manifest), 0);
  EXPECT_EQ(content_of(0), expected_of(0));
  for (size_t row = 1; row < PINNED_ROW_COUNT; ++row) EXPECT_TRUE(is_older(row)) << row;
  EXPECT_FALSE(file_exists(temporary()));
  EXPECT_EQ(requested(log, k_rows[1].server_path), server_paths(2));
  EXPECT_EQ(journal.messages(), std::vector<std::string>{k_launcher_status});
}

TEST_F(PinnedRefresh, DigestIsComparedInAnyLetterCaseAndAWrongOneChangesNothing) {
  std::wstring url = origin_url(L"dl/Vorna380.LauncherUi.dll");
  std::wstring pinned = from_utf8(sha256_hex(dev_content("pin_launcher_ui")));
  std::wstring wrong = from_utf8(sha256_hex("another library"));
  EXPECT_EQ(replace_downloaded_file(url.c_str(), L"Vorna380.LauncherUi.dll", wrong.c_str(), 4096), 0);
  EXPECT_TRUE(is_older(2));
  EXPECT_FALSE(file_exists(temporary()));

  for (wchar_t& c : pinned) c = static_cast<wchar_t>(towupper(c));
  EXPECT_EQ(replace_downloaded_file(url.c_str(), L"Vorna380.LauncherUi.dll", pinned.c_str(), 4096), 1);
  EXPECT_EQ(content_of(2), expected_of(2));
  EXPECT_TRUE(journal.messages().empty());
}

TEST_F(PinnedRefresh, FileServedLargerThanItsPinnedSizeIsRefused) {
  // The served library, with the right digest, one byte over the cap.
  std::wstring url = origin_url(L"dl/Vorna380.LauncherUi.dll");
  const std::string content = dev_content("pin_launcher_ui");
  std::wstring pinned = from_utf8(sha256_hex(content));
  EXPECT_EQ(replace_downloaded_file(url.c_str(), L"Vorna380.LauncherUi.dll", pinned.c_str(), content.size() - 1), 0);
  EXPECT_TRUE(is_older(2));
  EXPECT_LT(read_bytes(temporary()).size(), content.size()) << "nothing beyond the cap is kept";
  // The rows carry the profile's sizes, which are those of the development contents.
  for (size_t row = 0; row + 1 < PINNED_ROW_COUNT; ++row) {
    EXPECT_EQ(k_pinned_rows[row].size, dev_content(k_rows[row].label).size()) << row;
  }
}

TEST_F(PinnedRefresh, FailedDownloadNeverLeavesAStaleTemporaryFile) {
  ASSERT_TRUE(write_bytes(temporary(), "left by an interrupted refresh"));
  std::wstring url = origin_url(L"fault/status-404");
  std::wstring pinned = from_utf8(sha256_hex(dev_content("pin_updater")));
  EXPECT_EQ(replace_downloaded_file(url.c_str(), L"Moorbridge.exe", pinned.c_str(), 4096), 0);
  EXPECT_TRUE(is_older(0));
  EXPECT_NE(read_bytes(temporary()), "left by an interrupted refresh");
  std::vector<std::string> messages = journal.messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind("Le processus auxiliaire a echoue (code ", 0), 0u) << messages[0];
}
