// The --verify-release mode, run as the real launcher process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "release_profile.h"
#include "support/test_support.h"

namespace {
std::wstring trust_file(const std::wstring& name) { return fixture_path(L"trust/" + name); }

int launcher(const std::vector<std::wstring>& args) {
  std::vector<std::wstring> command{launcher_path()};
  command.insert(command.end(), args.begin(), args.end());
  return run_program(command);
}

int verify_release(const std::wstring& manifest, const std::wstring& signature) {
  return launcher({L"--verify-release", manifest, signature});
}

// A scratch copy of a fixture, changed by the caller.
std::wstring copy_of(const temp_dir& dir, const std::wstring& name, const std::string& content) {
  std::wstring path = dir / name;
  EXPECT_TRUE(write_bytes(path, content));
  return path;
}
}  // namespace

TEST(VerifyReleaseMode, AcceptsSignedValidManifests) {
  ASSERT_EQ(read_bytes(trust_file(L"limit.manifest")).size(), 1048576u);
  EXPECT_EQ(verify_release(trust_file(L"limit.manifest"), trust_file(L"limit.manifest.sig")), 0)
      << "exactly 1 MiB is within the limit";
  EXPECT_EQ(verify_release(trust_file(L"zero-byte.manifest"), trust_file(L"zero-byte.manifest.sig")), 0)
      << "signed as a whole, parsed up to the zero byte";
  EXPECT_EQ(verify_release(trust_file(L"sequence6.manifest"), trust_file(L"sequence6.manifest.sig")), 0)
      << "with a release number";
  EXPECT_EQ(verify_release(trust_file(L"future.manifest"), trust_file(L"future.manifest.next-key.sig")), 0)
      << "signed by the profile's next key";
  EXPECT_EQ(verify_release(trust_file(L"future.manifest"), trust_file(L"future.manifest.sig")), 0)
      << "expiring at the end of the year 9999";
}

TEST(VerifyReleaseMode, RefusesExpiredManifests) {
  EXPECT_EQ(verify_release(trust_file(L"expired.manifest"), trust_file(L"expired.manifest.sig")), 2)
      << "expired in 2001";
  EXPECT_EQ(verify_release(trust_file(L"no-such-day.manifest"), trust_file(L"no-such-day.manifest.sig")), 2)
      << "an expiry time on a day that does not exist";
  // Signed before expiry existed: never expiring, which a build of the development profile
  // refuses, so that such a release cannot be handed to a new player for ever.
  EXPECT_EQ(verify_release(trust_file(L"release.manifest"), trust_file(L"release.manifest.sig")),
            VORNA380_RELEASE_EXPIRY_REQUIRED ? 2 : 0);
  EXPECT_EQ(VORNA380_RELEASE_EXPIRY_REQUIRED, 1);
}

TEST(VerifyReleaseMode, RefusesChangedOrInvalidManifests) {
  temp_dir dir;
  const std::string manifest = read_bytes(trust_file(L"future.manifest"));
  const std::wstring signature = trust_file(L"future.manifest.sig");
  ASSERT_FALSE(manifest.empty());

  std::string tampered = manifest;
  tampered[tampered.find("123456789")] = '9';  // a bigger package size, still a valid manifest
  EXPECT_EQ(verify_release(copy_of(dir, L"tampered.manifest", tampered), signature), 2);
  EXPECT_EQ(verify_release(copy_of(dir, L"newline.manifest", manifest + "\n"), signature), 2)
      << "a line feed added after signing";
  EXPECT_EQ(verify_release(copy_of(dir, L"copy.manifest", manifest), signature), 0) << "an unchanged copy";

  std::string zero = read_bytes(trust_file(L"zero-byte.manifest"));
  zero[zero.size() - 2] = 'X';  // behind the zero byte, where the parser does not look
  EXPECT_EQ(verify_release(copy_of(dir, L"zero.manifest", zero), trust_file(L"zero-byte.manifest.sig")), 2);

  EXPECT_EQ(verify_release(trust_file(L"wrong-game.manifest"), trust_file(L"wrong-game.manifest.sig")), 2)
      << "valid signature, manifest fails validation";
  EXPECT_EQ(verify_release(trust_file(L"release.manifest"), trust_file(L"wrong-game.manifest.sig")), 2);
  EXPECT_EQ(verify_release(trust_file(L"sequence-6.manifest"), trust_file(L"sequence-6.manifest.sig")), 2)
      << "valid signature, malformed release number";
}

TEST(VerifyReleaseMode, RefusesOtherSignatures) {
  const std::wstring manifest = trust_file(L"release.manifest");
  for (const wchar_t* name :
       {L"release.manifest.other-key.sig", L"release.manifest.pss.sig", L"release.manifest.sha1.sig"}) {
    EXPECT_EQ(verify_release(manifest, trust_file(name)), 2) << to_utf8(name);
  }
}

TEST(VerifyReleaseMode, RefusesFilesOfTheWrongSize) {
  temp_dir dir;
  const std::wstring manifest = trust_file(L"release.manifest");
  const std::string signature = read_bytes(trust_file(L"release.manifest.sig"));
  ASSERT_EQ(signature.size(), 384u);

  ASSERT_EQ(read_bytes(trust_file(L"over-limit.manifest")).size(), 1048577u);
  EXPECT_EQ(verify_release(trust_file(L"over-limit.manifest"), trust_file(L"over-limit.manifest.sig")), 2)
      << "1,048,577 bytes, although properly signed";
  EXPECT_EQ(verify_release(copy_of(dir, L"empty.manifest", ""), trust_file(L"release.manifest.sig")), 2);
  EXPECT_EQ(verify_release(manifest, copy_of(dir, L"empty.sig", "")), 2);
  EXPECT_EQ(verify_release(manifest, copy_of(dir, L"383.sig", signature.substr(0, 383))), 2);
  EXPECT_EQ(verify_release(manifest, copy_of(dir, L"385.sig", signature + '\0')), 2);
  EXPECT_EQ(verify_release(manifest, copy_of(dir, L"4096.sig", signature + std::string(4096 - 384, '\0'))), 2);
  EXPECT_EQ(verify_release(manifest, copy_of(dir, L"4097.sig", signature + std::string(4097 - 384, '\0'))), 2);
}

TEST(VerifyReleaseMode, RefusesMissingOrUnreadablePaths) {
  temp_dir dir;
  const std::wstring manifest = trust_file(L"release.manifest");
  const std::wstring signature = trust_file(L"release.manifest.sig");
  EXPECT_EQ(verify_release(dir / L"missing.manifest", signature), 2);
  EXPECT_EQ(verify_release(manifest, dir / L"missing.sig"), 2);
  EXPECT_EQ(verify_release(dir / L"missing.manifest", dir / L"missing.sig"), 2);
  EXPECT_EQ(verify_release(dir.path, signature), 2) << "a folder as the manifest";
  EXPECT_EQ(verify_release(signature, manifest), 2) << "arguments swapped";
}

// A FIFO would make a plain read wait for a writer for ever; the release check refuses it at
// once, like any other file that is not a regular file or that is reached through a link.
TEST(VerifyReleaseMode, RefusesFifosAndLinksWithoutWaiting) {
#ifdef _WIN32
  GTEST_SKIP() << "no FIFOs in the Windows file system, and a file link made on Linux is no reparse point under "
                  "Wine";
#else
  temp_dir dir;
  ASSERT_TRUE(make_fifo(dir / L"fifo"));
  EXPECT_EQ(run_program({launcher_path(), L"--verify-release", dir / L"fifo", dir / L"fifo"}, 20000), 2);
  EXPECT_EQ(run_program({launcher_path(), L"--verify-release", trust_file(L"release.manifest"), dir / L"fifo"}, 20000),
            2);
  ASSERT_TRUE(make_link(trust_file(L"release.manifest"), dir / L"linked.manifest"));
  EXPECT_EQ(verify_release(dir / L"linked.manifest", trust_file(L"release.manifest.sig")), 2);
#endif
}
