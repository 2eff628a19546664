// Range requests against the real release server: only the exact range asked for is taken.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/release_server.h"
#include "support/test_support.h"
#include "transfer/download.h"

namespace {
struct collected {
  std::string bytes;
  bool refuse = false;
};

int collect(void* context, const unsigned char* bytes, size_t count) {
  collected* into = static_cast<collected*>(context);
  into->bytes.append(reinterpret_cast<const char*>(bytes), count);
  return !into->refuse;
}

class RangeDownload : public release_server_test {
 protected:
  collected got;
  range_sink sink = {collect, &got};
  int range(const std::wstring& path, uint64_t begin, uint64_t end, uint64_t total) {
    got.bytes.clear();
    return download_range(origin_url(path).c_str(), begin, end, total, &sink);
  }
};

int range_is(const char* value, uint64_t begin, uint64_t end, uint64_t total) {
  return content_range_is(value, strlen(value), begin, end, total);
}
}  // namespace

TEST_F(RangeDownload, TakesExactlyTheRangeAskedFor) {
  const std::string file = fault_file(L"exact-1mib.bin");
  const uint64_t size = file.size();
  ASSERT_TRUE(range(L"fault/exact-1mib.bin", 3, 9, size));
  EXPECT_EQ(got.bytes, file.substr(3, 6));
  ASSERT_TRUE(range(L"fault/exact-1mib.bin", size - 100, size, size));
  EXPECT_EQ(got.bytes, file.substr(size - 100));
  ASSERT_TRUE(range(L"fault/exact-1mib.bin", 0, size, size));
  EXPECT_EQ(got.bytes, file);
}

TEST_F(RangeDownload, AnyOtherAnswerFailsBeforeAByteIsTaken) {
  const uint64_t size = fault_file(L"exact-1mib.bin").size();
  EXPECT_FALSE(range(L"fault/exact-1mib.bin", 0, 10, size + 1)) << "another total";
  EXPECT_FALSE(range(L"fault/exact-1mib.bin", 0, size + 5, size + 5)) << "the server cuts the range at its end";
  EXPECT_FALSE(range(L"fault/status-206", 0, 10, 16)) << "206 without Content-Range";
  EXPECT_FALSE(range(L"fault/status-404", 0, 10, 16));
  EXPECT_FALSE(range(L"fault/exact-1mib.bin", 10, 10, size)) << "an empty range is never asked";
  EXPECT_EQ(got.bytes, "");
}

TEST_F(RangeDownload, ACutConnectionOrARefusingSinkFails) {
  const uint64_t size = fault_file(L"exact-1mib.bin").size();
  EXPECT_FALSE(range(L"fault/cut/exact-1mib.bin", 0, size, size));
  EXPECT_LT(got.bytes.size(), size);
  got.refuse = true;
  EXPECT_FALSE(range(L"fault/exact-1mib.bin", 0, size, size));
  EXPECT_LT(got.bytes.size(), size);
}

TEST(ContentRange, OnlyTheExactRangeInItsPlainFormCounts) {
  EXPECT_TRUE(range_is("bytes 0-9/10", 0, 10, 10));
  EXPECT_TRUE(range_is("bytes 5-5/6 ", 5, 6, 6));
  EXPECT_TRUE(range_is("bytes 4294967296-4294967306/5000000000", 4294967296ull, 4294967307ull, 5000000000ull));
  for (const char* wrong :
       {"bytes 0-8/10", "bytes 1-9/10", "bytes 0-9/11", "bytes 00-9/10", "bytes 0-9/*", "bytes */10", "bytes=0-9/10",
        "items 0-9/10", "bytes 0-9/10x", "bytes -0-9/10", "bytes 0-99999999999999999999/10", "bytes  0-9/10", ""}) {
    EXPECT_FALSE(range_is(wrong, 0, 10, 10)) << wrong;
  }
}
