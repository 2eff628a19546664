// Range requests against the real release server: only the exact range asked for is taken.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/journal_lines.h"
#include "support/release_server.h"
#include "support/test_support.h"
#include "transfer/download.h"
#include "transfer/job_support.h"

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
  temp_dir dir;
  journal_capture journal{dir / L"launcher.log"};
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

TEST_F(RangeDownload, ADroppedRangeIsAskedAgainOnceForTheBytesStillMissing) {
  const std::string file = fault_file(L"exact-1mib.bin");
  ASSERT_TRUE(range(L"fault/cut-first/exact-1mib.bin", 0, file.size(), file.size()));
  EXPECT_EQ(got.bytes, file) << "each byte once, in order";
  ASSERT_EQ(journal.messages().size(), 1u);
  EXPECT_EQ(journal.messages()[0].rfind("Plage interrompue apres ", 0), 0u) << journal.messages()[0];
}

TEST_F(RangeDownload, RedirectsAreFollowedOnlyWithinTheOrigin) {
  const std::string small = fault_file(L"small.txt");
  ASSERT_TRUE(range(L"fault/redirect", 2, 10, small.size()));
  EXPECT_EQ(got.bytes, small.substr(2, 8));
  access_log log;
  EXPECT_FALSE(range(L"fault/redirect-other-origin", 2, 10, small.size()));
  EXPECT_EQ(got.bytes, "");
  EXPECT_EQ(log.since().find(std::to_string(origin_port() + OTHER_ORIGIN_PORT_OFFSET) + " \""), std::string::npos);
  EXPECT_EQ(journal.messages(), std::vector<std::string>{"Redirection refusee: elle quitte l'origine de la release."});
}

TEST_F(RangeDownload, ATrickleIsAbandonedAndNotAskedAgain) {
  short_rate_window window;
  ASSERT_TRUE(serve_file(L"dl/trickle.bin", std::string(256, 't')));  // half a minute at 8 bytes/s
  EXPECT_FALSE(range(L"trickle/dl/trickle.bin", 0, 256, 256));
  EXPECT_EQ(journal.messages(), std::vector<std::string>{too_slow_line(origin_url(L"trickle/dl/trickle.bin"))});
}

// The answer's validator is read, and a range asked "If-Range" that validator is taken, while
// one asked under another validator is answered whole, which the range refuses: a package
// that changed on the server is never joined to the bytes of the one before.
TEST_F(RangeDownload, TheValidatorIsReadAndGuardsTheRestOfAFile) {
  const std::string file = fault_file(L"exact-1mib.bin");
  const uint64_t size = file.size();
  char validator[VALIDATOR_BYTES] = "left over";
  sink.validator = validator;
  ASSERT_TRUE(range(L"fault/exact-1mib.bin", 0, 1, size));
  ASSERT_TRUE(strong_validator(validator)) << validator;
  std::string seen = validator;
  sink.validator = nullptr;
  sink.if_range = seen.c_str();
  ASSERT_TRUE(range(L"fault/exact-1mib.bin", size - 10, size, size));
  EXPECT_EQ(got.bytes, file.substr(size - 10));
  const std::string other = "\"another-version\"";
  sink.if_range = other.c_str();
  EXPECT_FALSE(range(L"fault/exact-1mib.bin", size - 10, size, size));
  EXPECT_EQ(got.bytes, "");
}

// What real servers and caches answer to a range request instead of the range: the whole file
// (200), a 206 that starts earlier than asked or ends before, a weak validator. None of them
// hands a byte to the sink, so that nothing is ever appended at the wrong place.
TEST_F(RangeDownload, AnswersThatAreNotExactlyTheRestAreRefused) {
  bool whole = false;
  sink.answered_whole = &whole;
  const std::string small = fault_file(L"small.txt");
  ASSERT_TRUE(serve_file(L"dl/whole.bin", small));
  EXPECT_FALSE(range(L"norange/dl/whole.bin", 100, small.size(), small.size()));
  EXPECT_TRUE(whole) << "the whole file answered";
  EXPECT_FALSE(range(L"fault/range-earlier", 8, 16, 1024)) << "bytes 0-15 for 8-15";
  EXPECT_FALSE(whole);
  EXPECT_FALSE(range(L"fault/range-short", 0, 1024, 1024)) << "bytes 0-15 for 0-1023";
  EXPECT_EQ(got.bytes, "");
  char validator[VALIDATOR_BYTES] = "";
  sink.validator = validator;
  ASSERT_TRUE(range(L"fault/weak-etag/small.txt", 0, 1, small.size()));
  EXPECT_STREQ(validator, "W/\"weak\"");
  EXPECT_FALSE(strong_validator(validator)) << "a weak validator guards no resume";
}

TEST(Validator, OnlyAQuotedStrongEtagCounts) {
  EXPECT_TRUE(strong_validator("\"5f3a-100000\""));
  for (const char* refused : {"W/\"5f3a-100000\"", "5f3a", "\"", "\"a b\"", "\"a\"b\"", ""}) {
    EXPECT_FALSE(strong_validator(refused)) << refused;
  }
  EXPECT_FALSE(strong_validator(nullptr));
  EXPECT_FALSE(strong_validator(("\"" + std::string(VALIDATOR_BYTES, 'x') + "\"").c_str()));
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
