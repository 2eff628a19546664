#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/paths.h"
#include "support/test_support.h"

namespace {
std::wstring joined(const std::wstring& folder, const std::wstring& name) {
  static wchar_t output[PATH_UNITS];
  join_path(output, folder.c_str(), name.c_str());
  return output;
}
const std::wstring sep(1, PATH_SEPARATOR);
}  // namespace

TEST(JoinPath, AddsOneSeparatorOnlyWhereMissing) {
  EXPECT_EQ(joined(L"a" + sep, L"b"), L"a" + sep + L"b");
  EXPECT_EQ(joined(L"a", L"b"), L"a" + sep + L"b");
  EXPECT_EQ(joined(L"", L"b"), sep + L"b");
  // Nothing else is normalised.
  EXPECT_EQ(joined(L"a", L"../x/./y"), L"a" + sep + L"../x/./y");
}

TEST(JoinPath, CutsAt32767UnitsAndTerminates) {
  std::wstring folder(30000, L'f');
  std::wstring name(5000, L'n');
  std::wstring result = joined(folder, name);
  ASSERT_EQ(result.size(), 32767u);
  EXPECT_EQ(result.substr(0, 30001), folder + sep);
  EXPECT_EQ(result.back(), L'n');
  // A folder that alone fills the buffer keeps its first 32,767 units.
  EXPECT_EQ(joined(std::wstring(40000, L'g'), L"x"), std::wstring(32767, L'g'));
}

TEST(ReadFile, TakesTheLimitExactlyAndAddsAZeroByte) {
  temp_dir dir;
  std::string content = "ab";
  content += '\0';
  content += "cd";
  ASSERT_TRUE(write_bytes(dir / L"five", content));
  uint32_t length = 99;
  char* data = read_file((dir / L"five").c_str(), 5, &length);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(length, 5u);
  EXPECT_EQ(std::string(data, 5), content);
  EXPECT_EQ(data[5], '\0');
  free(data);

  length = 99;
  EXPECT_EQ(read_file((dir / L"five").c_str(), 4, &length), nullptr);
  EXPECT_EQ(length, 99u) << "the length is written only on success";

  // The largest limit of all (clamped where size_t is 32 bits wide) reads a small file too.
  data = read_file((dir / L"five").c_str(), UINT32_MAX, &length);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(length, 5u);
  free(data);
}

TEST(ReadFile, RefusesEmptyMissingAndUnreadable) {
  temp_dir dir;
  uint32_t length = 0;
  ASSERT_TRUE(write_bytes(dir / L"empty", ""));
  EXPECT_EQ(read_file((dir / L"empty").c_str(), 100, &length), nullptr);
  EXPECT_EQ(read_file((dir / L"missing").c_str(), 100, &length), nullptr);
  EXPECT_EQ(read_file(dir.path.c_str(), 1u << 20, &length), nullptr) << "a folder is not a file";
  EXPECT_EQ(read_file((dir / L"empty/below").c_str(), 100, &length), nullptr) << "a file as a folder";
}

// Only regular files are read: a device opened by its Windows name, a FIFO (which would wait
// for a writer for ever), a socket or a link at the path count as missing at once.
TEST(ReadFile, RefusesDevicesFifosSocketsAndLinks) {
  temp_dir dir;
  uint32_t length = 0;
  for (const wchar_t* name : {L"NUL", L"con.txt", L"AUX"}) {
#ifndef _WIN32
    ASSERT_TRUE(write_bytes(dir / name, "content"));
#endif
    EXPECT_EQ(read_file((dir / name).c_str(), 100, &length), nullptr) << to_utf8(name);
  }
#ifndef _WIN32
  ASSERT_TRUE(make_fifo(dir / L"fifo"));
  ASSERT_TRUE(make_socket(dir / L"socket"));
  ASSERT_TRUE(write_bytes(dir / L"target", "content"));
  ASSERT_TRUE(make_link(dir / L"target", dir / L"link"));
  EXPECT_EQ(read_file((dir / L"fifo").c_str(), 100, &length), nullptr);
  EXPECT_EQ(read_file((dir / L"socket").c_str(), 100, &length), nullptr);
  EXPECT_EQ(read_file((dir / L"link").c_str(), 100, &length), nullptr);
  char* data = read_file((dir / L"target").c_str(), 100, &length);
  EXPECT_NE(data, nullptr) << "the file itself is read";
  free(data);
#endif
}

TEST(ReadFile, RefusesAFileLockedAgainstReading) {
  temp_dir dir;
  uint32_t length = 0;
  ASSERT_TRUE(write_bytes(dir / L"locked", "secret"));
  exclusive_lock lock(dir / L"locked");
  if (!lock.held()) GTEST_SKIP() << "this build cannot lock a file against reading here";
  EXPECT_EQ(read_file((dir / L"locked").c_str(), 100, &length), nullptr);
}

TEST(EnsureDirectory, CreatesChainsAndAcceptsWhatExists) {
  temp_dir dir;
  std::wstring chain = dir / L"a/b/c";
  EXPECT_EQ(ensure_directory(chain.c_str()), 1);
  EXPECT_TRUE(file_exists(chain));
  EXPECT_EQ(ensure_directory(chain.c_str()), 1) << "an existing folder";
  ASSERT_TRUE(write_bytes(dir / L"file", "x"));
  EXPECT_EQ(ensure_directory((dir / L"file").c_str()), 1) << "an existing regular file counts";
#ifdef _WIN32
  const wchar_t* unreachable = L"R:\\vorna380\\missing\\drive";
#else
  const wchar_t* unreachable = L"/proc/vorna380-missing/drive";
#endif
  EXPECT_EQ(ensure_directory(unreachable), 0);
}
