// File digests: sha256_file against openssl's digests of the same files, the files that must
// never hash, one file hasher across folders, digest_hex, and the client package test.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/os.h"
#include "support/test_support.h"
#include "trust/digest.h"
#include "trust/manifest.h"

namespace {
// Digest text of sha256_file, or "" when it refused the path.
std::string file_digest(const std::wstring& path) {
  unsigned char digest[DIGEST_BYTES];
  if (!sha256_file(path.c_str(), digest)) return {};
  wchar_t text[DIGEST_TEXT_UNITS];
  digest_hex(digest, text);
  return to_utf8(text);
}

// The digest openssl wrote for a fixture file (64 digits, then a line feed).
std::string openssl_digest(const std::wstring& name) {
  std::string text = read_bytes(fixture_path(L"digest/" + name + L".sha256"));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

std::string hex_text(const unsigned char digest[DIGEST_BYTES]) {
  wchar_t text[DIGEST_TEXT_UNITS + 4];
  for (wchar_t& unit : text) unit = L'#';
  digest_hex(digest, text);
  EXPECT_EQ(text[64], L'\0');
  for (size_t i = DIGEST_TEXT_UNITS; i < DIGEST_TEXT_UNITS + 4; ++i)
    EXPECT_EQ(text[i], L'#') << "written past 65 units";
  return to_utf8(text);
}

std::unique_ptr<release_manifest> package_record(uint64_t size, const std::string& digest) {
  auto record = std::make_unique<release_manifest>();
  record->package_size = size;
  std::wstring text = from_utf8(digest);
  wcsncpy(record->package_sha256, text.c_str(), DIGEST_TEXT_UNITS - 1);
  return record;
}
}  // namespace

TEST(Sha256File, MatchesOpensslAroundTheChunkSize) {
  for (const wchar_t* name : {L"empty", L"chunk", L"chunk-plus-one"}) {
    std::string expected = openssl_digest(name);
    ASSERT_EQ(expected.size(), 64u) << "fixture digest for " << to_utf8(name);
    EXPECT_EQ(file_digest(fixture_path(L"digest/" + std::wstring(name) + L".bin")), expected) << to_utf8(name);
  }
  EXPECT_EQ(read_bytes(fixture_path(L"digest/chunk.bin")).size(), 4194304u);
  EXPECT_EQ(read_bytes(fixture_path(L"digest/chunk-plus-one.bin")).size(), 4194305u);
  EXPECT_EQ(openssl_digest(L"empty"), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_NE(openssl_digest(L"chunk"), openssl_digest(L"chunk-plus-one"));
}

TEST(Sha256File, NeverHashesDirectoriesOrMissingFiles) {
  temp_dir dir;
  EXPECT_EQ(file_digest(dir.path), "");
  EXPECT_EQ(file_digest(fixture_path(L"digest/folder")), "");
  EXPECT_EQ(file_digest(dir / L"missing.bin"), "");
  EXPECT_EQ(file_digest(dir / L"missing/inside.bin"), "");
  EXPECT_EQ(file_digest(L""), "");
  // The same folder gains a file: that one hashes.
  ASSERT_TRUE(write_bytes(dir / L"present.bin", "abc"));
  EXPECT_EQ(file_digest(dir / L"present.bin"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Sha256File, NeverHashesAFolderLink) {
  // Made on the Linux side at build time; Windows code sees it as a reparse point too.
  const std::wstring link = fixture_path(L"digest/folder-link");
  ASSERT_TRUE(file_exists(link));
  EXPECT_EQ(file_digest(link), "");
}

TEST(Sha256File, NeverHashesAFileLink) {
#ifdef _WIN32
  GTEST_SKIP() << "a file link made on Linux carries no reparse-point attribute under Wine, so Windows code "
                  "cannot tell it from its target there";
#else
  ASSERT_EQ(read_bytes(fixture_path(L"digest/file-link.bin")).size(), 4194304u) << "the link resolves";
  EXPECT_EQ(file_digest(fixture_path(L"digest/file-link.bin")), "");
  EXPECT_EQ(file_digest(fixture_path(L"digest/chunk.bin")), openssl_digest(L"chunk"));
#endif
}

TEST(Sha256File, RefusesAFileLockedWithoutReadSharing) {
  temp_dir dir;
  std::wstring path = dir / L"locked.bin";
  ASSERT_TRUE(write_bytes(path, "abc"));
  {
    exclusive_lock lock(path);
    if (!lock.held()) {
#ifdef _WIN32
      FAIL() << "could not hold the file open without sharing";
#else
      GTEST_SKIP() << "running as root: permissions cannot keep this process from reading the file";
#endif
    }
    EXPECT_EQ(file_digest(path), "");
  }
  EXPECT_EQ(file_digest(path), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad")
      << "hashes again once released";
}

TEST(DigestHex, SixtyFourLowerCaseDigitsAndTerminator) {
  unsigned char digest[DIGEST_BYTES];
  memset(digest, 0, sizeof digest);
  EXPECT_EQ(hex_text(digest), std::string(64, '0'));
  memset(digest, 0xff, sizeof digest);
  EXPECT_EQ(hex_text(digest), std::string(64, 'f'));
  for (unsigned i = 0; i < DIGEST_BYTES; ++i) digest[i] = static_cast<unsigned char>(i * 8 + 7);
  EXPECT_EQ(hex_text(digest), "070f171f272f373f474f575f676f777f878f979fa7afb7bfc7cfd7dfe7eff7ff");
  const unsigned char mixed[DIGEST_BYTES] = {0xAB, 0xCD, 0xEF, 0x01, 0x10, 0x9A, 0xA9, 0xF0};
  EXPECT_EQ(hex_text(mixed), "abcdef01109aa9f0" + std::string(48, '0')) << "high nibble first";
}

TEST(VerifyPackageFile, ChecksExactSizeThenDigest) {
  const std::wstring package = fixture_path(L"digest/chunk-plus-one.bin");
  const std::string digest = openssl_digest(L"chunk-plus-one");
  ASSERT_EQ(digest.size(), 64u);
  EXPECT_EQ(verify_package_file(package.c_str(), package_record(4194305, digest).get()), 1);
  EXPECT_EQ(verify_package_file(package.c_str(), package_record(4194304, digest).get()), 0) << "one byte short";
  EXPECT_EQ(verify_package_file(package.c_str(), package_record(4194306, digest).get()), 0) << "one byte long";
  EXPECT_EQ(verify_package_file(package.c_str(), package_record(4194305 + (1ull << 32), digest).get()), 0)
      << "differs above 32 bits";
  EXPECT_EQ(verify_package_file(package.c_str(), package_record(4194305, openssl_digest(L"chunk")).get()), 0)
      << "digest of another file";

  std::string upper = digest;
  for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'f' ? c - 32 : c);
  ASSERT_NE(upper, digest);
  EXPECT_EQ(verify_package_file(package.c_str(), package_record(4194305, upper).get()), 1)
      << "digest texts compare without regard to case";
}

TEST(VerifyPackageFile, OneChangedBitIsRefused) {
  temp_dir dir;
  std::string content = read_bytes(fixture_path(L"digest/chunk-plus-one.bin"));
  const std::string digest = openssl_digest(L"chunk-plus-one");
  ASSERT_EQ(content.size(), 4194305u);
  ASSERT_TRUE(write_bytes(dir / L"package.zip", content));
  EXPECT_EQ(verify_package_file((dir / L"package.zip").c_str(), package_record(content.size(), digest).get()), 1);
  for (size_t at : {size_t{0}, size_t{4194303}, size_t{4194304}}) {
    std::string changed = content;
    changed[at] = static_cast<char>(changed[at] ^ 0x10);
    ASSERT_TRUE(write_bytes(dir / L"package.zip", changed));
    EXPECT_EQ(verify_package_file((dir / L"package.zip").c_str(), package_record(content.size(), digest).get()), 0)
        << "bit changed in byte " << at;
  }
}

TEST(VerifyPackageFile, MissingDirectoriesAndLinksAreRefused) {
  temp_dir dir;
  const std::string digest = openssl_digest(L"empty");
  EXPECT_EQ(verify_package_file((dir / L"missing.zip").c_str(), package_record(0, digest).get()), 0);
  ASSERT_TRUE(write_bytes(dir / L"empty.zip", ""));
  EXPECT_EQ(verify_package_file((dir / L"empty.zip").c_str(), package_record(0, digest).get()), 1);
  EXPECT_EQ(verify_package_file(dir.path.c_str(), package_record(0, digest).get()), 0);
#ifndef _WIN32
  // Right size and digest behind a link: still refused, as sha256_file refuses links.
  const std::wstring link = fixture_path(L"digest/file-link.bin");
  EXPECT_EQ(verify_package_file(link.c_str(), package_record(4194304, openssl_digest(L"chunk")).get()), 0);
#endif
}

TEST(FileHasher, OneHasherFollowsEveryChangeOfFolder) {
  temp_dir dir;
  const std::vector<std::pair<std::wstring, std::string>> files = {
      {L"a/x", "one"}, {L"a/y", "two"}, {L"a/b/x", "three"}, {L"ab/x", "four"}, {L"x", "five"}};
  ASSERT_TRUE(make_dirs(dir / L"a/b"));
  ASSERT_TRUE(make_dirs(dir / L"ab"));
  for (const auto& [name, bytes] : files) ASSERT_TRUE(write_bytes(dir / name, bytes));
  file_hasher* hasher = create_file_hasher();
  ASSERT_NE(hasher, nullptr);
  auto hashed = [&](const std::wstring& name) {
    unsigned char digest[DIGEST_BYTES];
    std::wstring path = dir / name;
    return hash_file_below(hasher, path.c_str(), dir.path.size(), digest) ? hex_text(digest) : std::string();
  };
  // Into a deeper folder, back up, to a sibling whose name starts like the last one, and to the top.
  for (const wchar_t* name : {L"a/x", L"a/y", L"a/b/x", L"a/x", L"ab/x", L"x", L"a/y"}) {
    std::string expected;
    for (const auto& [listed, bytes] : files) {
      if (listed == name) expected = sha256_hex(bytes);
    }
    EXPECT_EQ(hashed(name), expected) << to_utf8(name);
  }
  EXPECT_EQ(hashed(L"a/missing"), "");
  EXPECT_EQ(hashed(L"a/b"), "");  // a folder, right after a file of its parent
#ifndef _WIN32
  // A link to a folder already examined is still a link.
  ASSERT_TRUE(make_link(dir / L"a", dir / L"c"));
  EXPECT_EQ(hashed(L"a/x"), sha256_hex("one"));
  EXPECT_EQ(hashed(L"c/x"), "");
#endif
  free_file_hasher(hasher);
}

// A hash vouches for a file's identity only when its time stamps lie further back than their
// granularity: a write in the same tick could otherwise leave the identity as it was. A new
// link keeps the file but changes its change time.
TEST(FileHasher, IdentitiesOfFilesChangedWithinTheStampGranularityAreNotTaken) {
  temp_dir dir;
  ASSERT_TRUE(write_bytes(dir / L"file", "bytes"));
  file_hasher* hasher = create_file_hasher();
  ASSERT_NE(hasher, nullptr);
  std::wstring path = dir / L"file";
  unsigned char digest[DIGEST_BYTES];
  file_identity fresh = {};
  ASSERT_TRUE(hash_file_below(hasher, path.c_str(), dir.path.size(), digest, &fresh));
  EXPECT_FALSE(fresh.taken);

  os_sleep_ms(STAMP_GRANULARITY_MS + 200);
  file_identity settled = {};
  ASSERT_TRUE(hash_file_below(hasher, path.c_str(), dir.path.size(), digest, &settled));
  EXPECT_TRUE(settled.taken);

  std::wstring link = dir / L"link";
  ASSERT_TRUE(os_hard_link(path.c_str(), link.c_str()));
  file_identity linked = {};
  ASSERT_TRUE(identify_file_below(hasher, link.c_str(), dir.path.size(), &linked));
  EXPECT_TRUE(same_file_but_links(&linked, &settled));
  free_file_hasher(hasher);
}
