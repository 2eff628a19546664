// The optional expiry time of a manifest: its strict UTC form, the seconds it stands for, and
// the check against a given time and against the system clock.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "release_profile.h"
#include "support/test_support.h"
#include "trust/manifest.h"
#include "trust/utc_time.h"

namespace {
std::string fixture(const std::wstring& name) { return read_bytes(fixture_path(L"trust/" + name)); }

constexpr int64_t k_refused = INT64_MIN;

int64_t parsed_time(const std::string& text) {
  int64_t seconds = 0;
  return parse_utc_time(text.data(), text.size(), &seconds) ? seconds : k_refused;
}

std::string formatted(int64_t seconds) {
  wchar_t text[UTC_TIME_UNITS];
  format_utc_time(seconds, text);
  return to_utf8(text);
}

// The development manifest with more lines; the record is large and lives on the heap.
struct manifest_with {
  std::unique_ptr<release_manifest> held = std::make_unique<release_manifest>();
  release_manifest& record = *held;
  int result;
  explicit manifest_with(const std::string& lines)
      : result(parse_manifest((fixture(L"release.manifest") + lines).c_str(), held.get())) {}
};
}  // namespace

TEST(UtcTime, ReadsOnlyTheExactFormWithARealDate) {
  EXPECT_EQ(parsed_time("1970-01-01T00:00:00Z"), 0);
  EXPECT_EQ(parsed_time("2000-03-01T00:00:00Z"), 951868800);
  EXPECT_EQ(parsed_time("2038-01-19T03:14:08Z"), int64_t{1} << 31);
  EXPECT_EQ(parsed_time("1969-12-31T23:59:59Z"), -1);
  EXPECT_EQ(parsed_time("1960-01-01T00:00:00Z"), -315619200);
  EXPECT_EQ(parsed_time("2000-02-29T12:00:00Z") - parsed_time("2000-02-28T12:00:00Z"), 86400) << "2000 is leap";
  EXPECT_EQ(parsed_time("2024-02-29T23:59:59Z") + 1, parsed_time("2024-03-01T00:00:00Z"));
  for (const char* bad :
       {"2023-02-29T00:00:00Z",  "1900-02-29T00:00:00Z",  "2100-02-29T00:00:00Z",   "2024-04-31T00:00:00Z",
        "2024-13-01T00:00:00Z",  "2024-00-10T00:00:00Z",  "2024-01-00T00:00:00Z",   "2024-01-32T00:00:00Z",
        "2024-01-01T24:00:00Z",  "2024-01-01T23:60:00Z",  "2024-01-01T23:59:60Z",   "2024-01-01t00:00:00Z",
        "2024-01-01T00:00:00z",  "2024-01-01 00:00:00Z",  "2024-01-01T00:00:00",    "2024-01-01T00:00:00+00:00",
        "2024-1-01T00:00:00Z",   "+024-01-01T00:00:00Z",  "2024-01-01T00:00:0xZ",   "2024/01/01T00:00:00Z",
        "2024-01-01T00:00:00Z ", " 2024-01-01T00:00:00Z", "2024-01-01T00:00:00.5Z", ""}) {
    EXPECT_EQ(parsed_time(bad), k_refused) << "[" << bad << "]";
  }
}

TEST(UtcTime, FormatIsTheInverseOfParse) {
  // Steps of 997,001 seconds (11 days, 12 hours and some) over ten thousand years meet every
  // month, hour and minute, and leap days about two hundred times.
  const int64_t first = parsed_time("0000-01-01T00:00:00Z");
  const int64_t last = parsed_time("9999-12-31T23:59:59Z");
  ASSERT_LT(first, 0);
  for (int64_t seconds = first; seconds <= last; seconds += 997001) {
    ASSERT_EQ(parsed_time(formatted(seconds)), seconds) << formatted(seconds);
  }
  EXPECT_EQ(formatted(last), "9999-12-31T23:59:59Z");
  EXPECT_EQ(formatted(-1), "1969-12-31T23:59:59Z");
  EXPECT_EQ(formatted(last + 1), "10000-01-01T00:00:00Z") << "the clock may read beyond the manifest's years";
  EXPECT_EQ(formatted(first - 1), "-0001-12-31T23:59:59Z");
  EXPECT_FALSE(formatted(INT64_MIN).empty());
  EXPECT_EQ(formatted(INT64_MAX).back(), 'Z');
}

TEST(ManifestExpiry, TheNamedSecondIsTheLastOneAccepted) {
  manifest_with none("");
  ASSERT_EQ(none.result, 1);
  EXPECT_EQ(none.record.expires, NO_EXPIRY);
  // Without the key a manifest never expires, unless this build requires an expiry time; the
  // development profile does.
  EXPECT_EQ(manifest_expiry_missing(&none.record), VORNA380_RELEASE_EXPIRY_REQUIRED);
  EXPECT_EQ(manifest_expired_at(&none.record, 0), VORNA380_RELEASE_EXPIRY_REQUIRED);
  EXPECT_EQ(VORNA380_RELEASE_EXPIRY_REQUIRED, 1) << "the development profile requires expiry";

  manifest_with expiring("expires=2030-06-15T08:30:00Z\n");
  ASSERT_EQ(expiring.result, 1);
  const int64_t at = parsed_time("2030-06-15T08:30:00Z");
  EXPECT_EQ(expiring.record.expires, at);
  EXPECT_EQ(manifest_expired_at(&expiring.record, at - 86400), 0) << "a day before";
  EXPECT_EQ(manifest_expired_at(&expiring.record, at - 1), 0);
  EXPECT_EQ(manifest_expired_at(&expiring.record, at), 0) << "the boundary second";
  EXPECT_EQ(manifest_expired_at(&expiring.record, at + 1), 1);
  EXPECT_EQ(manifest_expired_at(&expiring.record, INT64_MAX), 1);

  manifest_with twice("expires=2030-06-15T08:30:00Z\nexpires=2001-01-01T00:00:00Z\n");
  EXPECT_EQ(twice.record.expires, at) << "the first line with the key counts";
  for (const char* bad : {"expires=\n", "expires=2030-06-15\n", "expires=2030-06-15T08:30:00Z\r\n",
                          "expires=2030-02-29T00:00:00Z\n", "expires=1719000000\n"}) {
    EXPECT_EQ(manifest_with(bad).result, 0) << "a malformed expiry makes a bad manifest: " << bad;
  }
}

TEST(ManifestExpiry, SystemClockReadsUtcSecondsSince1970) {
  manifest_with past("expires=2001-02-03T04:05:06Z\n");
  manifest_with future("expires=9999-12-31T23:59:59Z\n");
  ASSERT_EQ(past.result, 1);
  ASSERT_EQ(future.result, 1);
  int64_t now = 0;
  EXPECT_EQ(manifest_expired(&past.record, &now), 1);
  const int64_t expected =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  EXPECT_LE(now, expected);
  EXPECT_GE(now, expected - 5) << "the clock's reading " << formatted(now);
  EXPECT_EQ(manifest_expired(&future.record, &now), 0);
}
