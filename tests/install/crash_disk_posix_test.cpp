// A disk that fills while the worker downloads, extracts or activates: the start fails cleanly
// or finishes without its marks, takes nothing half-written for good, and the next start
// succeeds once space is back. The launcher root lies on a tmpfs mounted in this test's own
// mount namespace; the test copy of the worker (crash_runner) stops at a named point while the
// disk is filled. A full disk also takes the journal's lines: only what is on disk is checked
// until space is back.
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "install_fixture.h"
#include "install_test_platform.h"
#include "support/release_server.h"

namespace {
const char k_package_path[] = "/dl/Vorna380-client-dev-test-1.zip";
const uint64_t k_mib = 1048576;

class FullDisk : public InstallTest {
 protected:
  std::wstring volume = root / L"volume";
  std::wstring small_root = join(volume, L"root");
  std::wstring filler = join(volume, L"filler");
  uint64_t package_size = read_bytes(fixture_path(L"releases/good/dl/Vorna380-client-dev-test-1.zip")).size();
  // What the disk-space rule asks to be free.
  uint64_t needed = 2 * (package_size + 512 * k_mib);

  void SetUp() override { REQUIRE_RELEASE_SERVER(); }
  void TearDown() override {
    remove_tree(small_root);
    umount2(to_utf8(volume).c_str(), MNT_DETACH);
  }
  // A tmpfs of that size at volume, with an empty launcher root on it; false where mounting
  // is not permitted.
  bool mount_volume(uint64_t bytes) {
    static const bool private_mounts =
        unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    std::string size = "size=" + std::to_string(bytes);
    return private_mounts && make_dirs(volume) &&
           mount("vorna380-full", to_utf8(volume).c_str(), "tmpfs", 0, size.c_str()) == 0 && make_dirs(small_root);
  }
  // One start on the small root; with pause_at, stopped there while the volume is filled to
  // leave `left` bytes free.
  int start(const std::string& pause_at = "", uint64_t left = 0) {
    setenv("VORNA380_PAUSE_AT", pause_at.c_str(), 1);
    intptr_t runner = start_program({CRASH_RUNNER_PATH, small_root});
    unsetenv("VORNA380_PAUSE_AT");
    if (runner == 0) return k_still_running;
    if (!pause_at.empty()) {
      int status = 0;
      pid_t pid = static_cast<pid_t>(runner);
      if (waitpid(pid, &status, WUNTRACED) != pid || !WIFSTOPPED(status)) return k_still_running;
      fill(left);
      kill(pid, SIGCONT);
    }
    int ending = program_ending(&runner, 300000);
    if (runner != 0) end_program_now(&runner);
    return ending;
  }
  void fill(uint64_t left) const {
    struct statvfs disk;
    ASSERT_EQ(statvfs(to_utf8(volume).c_str(), &disk), 0);
    uint64_t free_bytes = static_cast<uint64_t>(disk.f_bavail) * disk.f_frsize;
    int fd = open(to_utf8(filler).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    if (free_bytes > left) {
      EXPECT_EQ(posix_fallocate(fd, 0, static_cast<off_t>(free_bytes - left)), 0);
    }
    // Whatever the rounding left over, when the disk is to be full.
    static const char block[4096] = {};
    while (left == 0 && write(fd, block, sizeof block) > 0) {
    }
    close(fd);
  }
  std::string journal_of_root() const { return read_bytes(join(small_root, L"launcher.log")); }
  bool journal_holds(const std::string& text) const { return journal_of_root().find(text) != std::string::npos; }
  bool client_verifies() const {
    std::string digest = sha256_hex(read_bytes(fixture_path(L"releases/client/Client/client-integrity.sha256")));
    return run_program({launcher_path(), L"--verify-integrity", join(small_root, L"Client"), from_utf8(digest)},
                       120000) == 0;
  }
  static size_t count(const std::string& text, const std::string& what) {
    size_t found = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++found;
    return found;
  }
};

#define REQUIRE_VOLUME(bytes)                                                                \
  do {                                                                                       \
    if (!mount_volume(bytes)) GTEST_SKIP() << "mounting a tmpfs needs root (CAP_SYS_ADMIN)"; \
  } while (0)
}  // namespace

// The disk fills during the download: the package is cut short. Once space is back, the cut
// package is kept (its bytes count as part of the package in the disk-space check) and only
// its rest is fetched: the package comes whole (200) once in all.
TEST_F(FullDisk, DuringTheDownloadThePartialPackageIsResumedOnceSpaceIsBack) {
  REQUIRE_VOLUME(needed + 24 * k_mib);
  ASSERT_TRUE(serve_release(L"good"));
  access_log log;
  ASSERT_EQ(start("after-status-download", 40 * k_mib), 1);
  std::wstring package = join(small_root, L"Vorna380.package.zip");
  ASSERT_TRUE(file_exists(package));
  EXPECT_LT(read_bytes(package).size(), package_size);
  remove_tree(filler);
  ASSERT_EQ(start(), 0) << journal_of_root();
  EXPECT_TRUE(journal_holds("Package partiel garde pour reprendre son telechargement: "));
  EXPECT_TRUE(journal_holds("Reprise du telechargement du package apres "));
  EXPECT_EQ(count(log.since(), std::string(k_package_path) + " HTTP/1.1\" 200 "), 1u);
  EXPECT_TRUE(client_verifies());
  EXPECT_FALSE(file_exists(package));
  EXPECT_FALSE(file_exists(package + L".resume"));
}

// The disk fills during the extraction: the partial staging folder is never activated; the
// next start extracts the package kept from the first.
TEST_F(FullDisk, DuringTheExtractionTheKeptPackageIsExtractedAgain) {
  REQUIRE_VOLUME(needed + package_size + 64 * k_mib);
  ASSERT_TRUE(serve_release(L"good"));
  access_log log;
  ASSERT_EQ(start("after-status-extraction", 30 * k_mib), 1);
  EXPECT_FALSE(file_exists(join(small_root, L"Client")));
  remove_tree(filler);
  ASSERT_EQ(start(), 0) << journal_of_root();
  EXPECT_TRUE(journal_holds("Package deja telecharge et valide. Aucun nouveau telechargement necessaire..."));
  EXPECT_EQ(count(log.since(), std::string(k_package_path) + " HTTP/1.1\" 200 "), 1u);
  EXPECT_TRUE(client_verifies());
}

// A full disk at the activation: the renames need no space and go through, the marker cannot
// be written and stays whole (the sequence mark is raised once the package's deletion has
// freed space); the next start rewrites the marker.
TEST_F(FullDisk, AtTheActivationTheMarksStayWholeAndAreWrittenLater) {
  REQUIRE_VOLUME(needed + 24 * k_mib);
  std::wstring old_client = join(small_root, L"Client");
  make_release(old_client, "old");
  std::wstring marker = join(small_root, L"installed-release.txt");
  std::wstring mark = join(small_root, L"release-sequence.txt");
  ASSERT_TRUE(write_bytes(marker, "old-release"));
  ASSERT_TRUE(write_bytes(mark, "4"));
  ASSERT_TRUE(serve_release(L"sequence-5"));
  ASSERT_EQ(start("after-status-activation", 0), 0) << journal_of_root();
  EXPECT_EQ(read_bytes(marker), "old-release");
  EXPECT_EQ(read_bytes(mark), "5");
  remove_tree(filler);
  ASSERT_EQ(start(), 0) << journal_of_root();
  EXPECT_TRUE(journal_holds("Le marqueur de version ne correspond pas au client valide: il est reecrit."));
  EXPECT_EQ(read_bytes(marker), "dev-test-1");
  EXPECT_EQ(read_bytes(mark), "5");
  EXPECT_TRUE(client_verifies());
}
