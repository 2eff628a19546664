// The manifest text format: parse_manifest, copy_manifest_value and valid_hex64, on manifests
// built here line by line.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "release_profile.h"
#include "support/test_support.h"
#include "trust/manifest.h"
#include "trust/utc_time.h"

namespace {
const std::string k_magic = "VORNA380-RELEASE-V1\n";
const std::string k_origin = to_utf8(VORNA380_RELEASE_ORIGIN);
const std::string k_package_digest = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const std::string k_integrity_digest = "fedcba9876543210fedcba9876543210fedcba9876543210fedcba9876543210";
const std::string k_launcher_digest = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

using lines = std::vector<std::pair<std::string, std::string>>;

lines good_lines() {
  return {{"version", "2024.11.3"},
          {"package_url", k_origin + "dl/client-2024.11.3.zip"},
          {"package_size", "123456789"},
          {"package_sha256", k_package_digest},
          {"integrity_sha256", k_integrity_digest},
          {"game_executable", "Tarvo.exe"},
          {"launcher_url", k_origin + "dl/Vorna380-Launcher.exe"},
          {"launcher_sha256", k_launcher_digest}};
}

std::string render(const lines& body) {
  std::string text = k_magic;
  for (const auto& [key, value] : body) text += key + "=" + value + "\n";
  return text;
}

// The good manifest with one key's value replaced.
std::string with_value(const std::string& key, const std::string& value) {
  lines body = good_lines();
  for (auto& line : body) {
    if (line.first == key) line.second = value;
  }
  return render(body);
}

std::string without_key(const std::string& key) {
  lines body;
  for (const auto& line : good_lines()) {
    if (line.first != key) body.push_back(line);
  }
  return render(body);
}

// The record is large (two 2048-unit URLs); keep it off the stack and zero-filled as callers do.
struct parsed {
  std::unique_ptr<release_manifest> record = std::make_unique<release_manifest>();
  int result;
  explicit parsed(const std::string& text) : result(parse_manifest(text.c_str(), record.get())) {}
};

int parses(const std::string& text) { return parsed(text).result; }
}  // namespace

TEST(ParseManifest, AcceptsAWellFormedManifestAndFillsEveryField) {
  parsed p(render(good_lines()));
  ASSERT_EQ(p.result, 1);
  const release_manifest& m = *p.record;
  EXPECT_EQ(std::wstring(m.version), L"2024.11.3");
  EXPECT_EQ(std::wstring(m.package_url), std::wstring(VORNA380_RELEASE_ORIGIN) + L"dl/client-2024.11.3.zip");
  EXPECT_EQ(m.package_size, 123456789u);
  EXPECT_EQ(to_utf8(m.package_sha256), k_package_digest);
  EXPECT_EQ(to_utf8(m.integrity_sha256), k_integrity_digest);
  EXPECT_EQ(std::wstring(m.game_executable), L"Tarvo.exe");
  EXPECT_EQ(std::wstring(m.launcher_url), std::wstring(VORNA380_RELEASE_ORIGIN) + L"dl/Vorna380-Launcher.exe");
  EXPECT_EQ(to_utf8(m.launcher_sha256), k_launcher_digest);
}

TEST(ParseManifest, MagicLineMustMatchExactly) {
  std::string body = render(good_lines()).substr(k_magic.size());
  EXPECT_EQ(parses(k_magic + body), 1);
  EXPECT_EQ(parses("VORNA380-RELEASE-V1\r\n" + body), 0) << "carriage return before the line feed";
  EXPECT_EQ(parses("vorna380-release-v1\n" + body), 0);
  EXPECT_EQ(parses("VORNA380-RELEASE-V2\n" + body), 0);
  EXPECT_EQ(parses(" VORNA380-RELEASE-V1\n" + body), 0);
  EXPECT_EQ(parses("VORNA380-RELEASE-V1" + body), 0) << "no line feed after the magic";
  EXPECT_EQ(parses(body), 0) << "no magic line at all";
  EXPECT_EQ(parses("VORNA380-RELEASE-V1"), 0) << "text shorter than the magic line";
  EXPECT_EQ(parses(""), 0);
  EXPECT_EQ(parse_manifest(nullptr, parsed("").record.get()), 0);
}

TEST(ParseManifest, CarriageReturnsAreOrdinaryBytes) {
  // Written with CR LF throughout: refused at the magic line already.
  std::string crlf;
  for (char c : render(good_lines())) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  EXPECT_EQ(parses(crlf), 0);
  // A CR at the end of one value stays in it and spoils that value.
  EXPECT_EQ(parses(with_value("package_size", "123456789\r")), 0);
  EXPECT_EQ(parses(with_value("package_sha256", k_package_digest + "\r")), 0);
  EXPECT_EQ(parses(with_value("game_executable", "Tarvo.exe\r")), 0);
  parsed p(with_value("version", "1.0\r"));
  ASSERT_EQ(p.result, 1);
  EXPECT_EQ(std::wstring(p.record->version), L"1.0\r");
}

TEST(ParseManifest, KeysAreLookedUpAnywhereFirstOccurrenceWins) {
  const lines forward = good_lines();
  lines reversed(forward.rbegin(), forward.rend());
  EXPECT_EQ(parses(render(reversed)), 1) << "keys in reverse order";

  lines twice = good_lines();
  twice.push_back({"version", "second"});
  twice.insert(twice.begin() + 1, {"version", "not-this-one"});
  twice.insert(twice.begin() + 2, {"game_executable", "Other.exe"});
  twice.push_back({"game_executable", "tarvo.exe"});
  parsed p(render(twice));
  ASSERT_EQ(p.result, 0) << "the first game_executable line decides, and it is wrong";
  lines version_twice = good_lines();
  version_twice.push_back({"version", "second"});
  parsed q(render(version_twice));
  ASSERT_EQ(q.result, 1);
  EXPECT_EQ(std::wstring(q.record->version), L"2024.11.3");
  lines version_first = good_lines();
  version_first.insert(version_first.begin(), {"version", "first"});
  parsed r(render(version_first));
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(std::wstring(r.record->version), L"first");
}

TEST(ParseManifest, OtherLinesAreIgnored) {
  std::string text = k_magic + "\n# a comment\n; another=comment\nversion2=x\nversionx=y\nVERSION=upper\n" +
                     "package_url_mirror=http://elsewhere.example/\nunknown_key=1\n\n";
  for (const auto& [key, value] : good_lines()) text += key + "=" + value + "\n\n# between\n";
  parsed p(text + "trailing=1\n");
  ASSERT_EQ(p.result, 1);
  EXPECT_EQ(std::wstring(p.record->version), L"2024.11.3");
  EXPECT_EQ(std::wstring(p.record->package_url), std::wstring(VORNA380_RELEASE_ORIGIN) + L"dl/client-2024.11.3.zip");
}

TEST(ParseManifest, EveryKeyIsRequiredAndMustStartItsLine) {
  for (const auto& [key, value] : good_lines()) {
    EXPECT_EQ(parses(without_key(key)), 0) << "missing " << key;
    // Written with a leading space, the key is not found...
    std::string spaced = without_key(key) + " " + key + "=" + value + "\n";
    EXPECT_EQ(parses(spaced), 0) << "only a spaced " << key;
    // ...unless a well-formed line for it exists as well.
    EXPECT_EQ(parses(spaced + key + "=" + value + "\n"), 1) << key;
    // Space before the '=' and upper case do not make the key either.
    EXPECT_EQ(parses(without_key(key) + key + " =" + value + "\n"), 0) << key;
  }
  EXPECT_EQ(parses(without_key("version") + "Version=1\n"), 0);
}

TEST(ParseManifest, ValueRunsToLineFeedOrEndOfText) {
  std::string text = render(good_lines());
  text.pop_back();  // the last line ends at the end of the text
  parsed p(text);
  ASSERT_EQ(p.result, 1);
  EXPECT_EQ(to_utf8(p.record->launcher_sha256), k_launcher_digest);

  parsed q(with_value("version", " a=b = c "));
  ASSERT_EQ(q.result, 1);
  EXPECT_EQ(std::wstring(q.record->version), L" a=b = c ") << "spaces and '=' stay in the value";

  EXPECT_EQ(parses(with_value("version", "")), 0) << "empty value";
  EXPECT_EQ(parses(with_value("launcher_sha256", "")), 0);
}

TEST(ParseManifest, ZeroByteEndsTheText) {
  std::string text = render(good_lines());
  std::string hidden = without_key("launcher_sha256");
  hidden += '\0';
  hidden += "launcher_sha256=" + k_launcher_digest + "\n";
  EXPECT_EQ(parses(hidden), 0) << "a key after the zero byte is not seen";
  std::string shadowed = text;
  shadowed += '\0';
  shadowed += "version=shadow\n";
  parsed p(shadowed);
  ASSERT_EQ(p.result, 1);
  EXPECT_EQ(std::wstring(p.record->version), L"2024.11.3");
}

TEST(ParseManifest, ValueLengthLimits) {
  parsed p(with_value("version", std::string(64, 'v')));
  ASSERT_EQ(p.result, 1);
  EXPECT_EQ(std::wstring(p.record->version), std::wstring(64, L'v'));
  EXPECT_EQ(parses(with_value("version", std::string(65, 'v'))), 0);
  // The limit counts bytes, not characters: 32 two-byte characters fill 64 bytes.
  std::string two_byte;
  for (int i = 0; i < 32; ++i) two_byte += "\xC3\xA9";
  EXPECT_EQ(parses(with_value("version", two_byte)), 1);
  EXPECT_EQ(parses(with_value("version", two_byte + "x")), 0);

  for (const char* key : {"package_url", "launcher_url"}) {
    std::string url = k_origin + "dl/";
    std::string at_limit = url + std::string(2047 - url.size(), 'u');
    parsed q(with_value(key, at_limit));
    ASSERT_EQ(q.result, 1) << key;
    const wchar_t* field = std::string(key) == "package_url" ? q.record->package_url : q.record->launcher_url;
    EXPECT_EQ(std::wstring(field).size(), 2047u);
    EXPECT_EQ(parses(with_value(key, at_limit + "u")), 0) << key;
  }

  // package_size goes through a 32-unit text: 31 bytes fit, 32 do not.
  parsed s(with_value("package_size", std::string(22, '0') + "100000000"));
  ASSERT_EQ(s.result, 1);
  EXPECT_EQ(s.record->package_size, 100000000u);
  EXPECT_EQ(parses(with_value("package_size", std::string(23, '0') + "100000000")), 0);

  std::string long_game(127, 'x');
  EXPECT_EQ(parses(with_value("game_executable", long_game)), 0) << "fits, but is not Tarvo.exe";
  EXPECT_EQ(parses(with_value("game_executable", long_game + "x")), 0);
}

TEST(ParseManifest, PackageSize) {
  struct size_case {
    const char* text;
    int accepted;
    uint64_t value;
  };
  const size_case cases[] = {
      {"100000000", 1, 100000000u},
      {"99999999", 0, 0},
      {"0", 0, 0},
      {"100000000 ", 0, 0},
      {"100000000x", 0, 0},
      {"1e9", 0, 0},
      {"1000000000.0", 0, 0},
      {"0x5F5E100", 0, 0},
      {"100 000 000", 0, 0},
      {"", 0, 0},
      {"abc", 0, 0},
      {" 100000000", 1, 100000000u},  // leading white space is skipped
      {"\t100000000", 1, 100000000u},
      {"+100000000", 1, 100000000u},  // a sign is accepted
      {"18446744073709551615", 1, UINT64_MAX},
      {"99999999999999999999999", 1, UINT64_MAX},  // overflow saturates
      {"+", 0, 0},
      {" ", 0, 0},
      {"-100000000", 0, 0},  // a negative number would wrap round to an enormous size
      {"-18446744073609551616", 0, 0},
  };
  for (const auto& c : cases) {
    parsed p(with_value("package_size", c.text));
    EXPECT_EQ(p.result, c.accepted) << "package_size=" << c.text;
    if (c.accepted) {
      EXPECT_EQ(p.record->package_size, c.value) << "package_size=" << c.text;
    }
  }
}

TEST(ParseManifest, UrlsMustStartWithTheReleaseOrigin) {
  std::string host = k_origin.substr(8, k_origin.size() - 9);  // between "https://" and the last "/"
  std::string upper_host;
  for (char c : host) upper_host += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  ASSERT_NE(upper_host, host) << "the host needs letters for the case test";
  const std::string refused[] = {
      "http://" + host + "/dl/x.zip",
      "https://" + upper_host + "/dl/x.zip",
      "HTTPS://" + host + "/dl/x.zip",
      "https://release.example.net/dl/x.zip",
      "https://" + host,
      "https://" + host + "0/dl/x.zip",
      "https://" + host + ".evil.example/dl/x.zip",
      "https://evil.example/" + k_origin,
      " " + k_origin + "dl/x.zip",
      "//" + host + "/dl/x.zip",
  };
  for (const char* key : {"package_url", "launcher_url"}) {
    EXPECT_EQ(parses(with_value(key, k_origin)), 1) << "the origin alone";
    for (const auto& url : refused) EXPECT_EQ(parses(with_value(key, url)), 0) << key << "=" << url;
  }
}

TEST(ParseManifest, DigestsMustBe64LowerCaseDigits) {
  for (const char* key : {"package_sha256", "integrity_sha256", "launcher_sha256"}) {
    std::string upper = k_package_digest;
    for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'f' ? c - 32 : c);
    EXPECT_EQ(parses(with_value(key, upper)), 0) << key;
    std::string one_upper = k_package_digest;
    one_upper[63] = 'F';
    EXPECT_EQ(parses(with_value(key, one_upper)), 0) << key;
    EXPECT_EQ(parses(with_value(key, k_package_digest.substr(1))), 0) << key << " with 63 digits";
    EXPECT_EQ(parses(with_value(key, k_package_digest + "0")), 0) << key << " with 65 digits";
    EXPECT_EQ(parses(with_value(key, k_package_digest.substr(1) + "g")), 0) << key;
    std::string spaced(1, ' ');
    spaced += k_package_digest.substr(1);
    EXPECT_EQ(parses(with_value(key, spaced)), 0) << key;
    EXPECT_EQ(parses(with_value(key, k_package_digest)), 1) << key;
  }
}

TEST(ParseManifest, GameExecutableIsExactlyTarvoExe) {
  for (const char* name : {"tarvo.exe", "TARVO.EXE", "Tarvo.EXE", "Tarvo.exe ", " Tarvo.exe", "Tarvo", "Other.exe"}) {
    EXPECT_EQ(parses(with_value("game_executable", name)), 0) << name;
  }
  EXPECT_EQ(parses(with_value("game_executable", "Tarvo.exe")), 1);
}

TEST(ParseManifest, ValuesAreStrictUtf8) {
  const char* invalid[] = {
      "\x80",              // lone continuation byte
      "1.0-\xC3\x28",      // lead byte without its continuation
      "\xC0\xAF",          // overlong encoding of '/'
      "\xE0\x80\xAF",      // overlong three-byte form
      "\xED\xA0\x80",      // encoded surrogate
      "\xF4\x90\x80\x80",  // beyond U+10FFFF
      "\xFF",
      "1.0-\xE2\x82",  // cut off at the end of the value
  };
  for (const char* value : invalid) {
    EXPECT_EQ(parses(with_value("version", value)), 0)
        << "version bytes " << testing::PrintToString(std::string(value));
    EXPECT_EQ(parses(with_value("package_url", k_origin + value)), 0);
  }
  parsed p(with_value("version", "\xC3\xA9t\xC3\xA9-\xE2\x82\xAC-\xF0\x9F\x8E\xAE"));
  ASSERT_EQ(p.result, 1);
  EXPECT_EQ(std::wstring(p.record->version), std::wstring(L"\u00e9t\u00e9-\u20ac-\U0001F3AE"));
}

TEST(CopyManifestValue, FindsConvertsAndTerminates) {
  wchar_t out[16];
  // The search starts at the first byte of the text; no magic line is needed here.
  ASSERT_EQ(copy_manifest_value(out, 16, "key=value", "key"), 1);
  EXPECT_EQ(std::wstring(out), L"value");
  ASSERT_EQ(copy_manifest_value(out, 16, "keyx=1\nke=2\nkey\nkey=3\nkey=4", "key"), 1);
  EXPECT_EQ(std::wstring(out), L"3");
  ASSERT_EQ(copy_manifest_value(out, 16, "a=1\n\n\nb=x=y\r\nc=3", "b"), 1);
  EXPECT_EQ(std::wstring(out), L"x=y\r");
  // Keys are matched as bytes: a key that itself holds '=' matches its own line only.
  ASSERT_EQ(copy_manifest_value(out, 16, "a=b=c\n", "a=b"), 1);
  EXPECT_EQ(std::wstring(out), L"c");
}

TEST(CopyManifestValue, Refusals) {
  wchar_t out[16];
  EXPECT_EQ(copy_manifest_value(out, 16, nullptr, "key"), 0);
  EXPECT_EQ(copy_manifest_value(out, 16, "", "key"), 0);
  EXPECT_EQ(copy_manifest_value(out, 16, "other=1\nkeys=2\n", "key"), 0);
  EXPECT_EQ(copy_manifest_value(out, 16, "other=1", "key"), 0) << "last line without line feed";
  EXPECT_EQ(copy_manifest_value(out, 16, "key=\nkey=late", "key"), 0) << "the first line is empty";
  EXPECT_EQ(copy_manifest_value(out, 16, "key=", "key"), 0);
  EXPECT_EQ(copy_manifest_value(out, 16, "key=\xC3", "key"), 0);
}

TEST(CopyManifestValue, CapacityCountsBytesAndKeepsOneUnitForTheTerminator) {
  wchar_t out[8];
  for (wchar_t& unit : out) unit = L'#';
  ASSERT_EQ(copy_manifest_value(out, 5, "k=abcd", "k"), 1);
  EXPECT_EQ(std::wstring(out), L"abcd");
  EXPECT_EQ(out[5], L'#') << "nothing written past the capacity";
  EXPECT_EQ(copy_manifest_value(out, 5, "k=abcde", "k"), 0);
  // Four bytes of UTF-8 make one character (two units on Windows) and still fit.
  ASSERT_EQ(copy_manifest_value(out, 5, "k=\xF0\x9F\x8E\xAE", "k"), 1);
  EXPECT_EQ(std::wstring(out), std::wstring(L"\U0001F3AE"));
  EXPECT_EQ(copy_manifest_value(out, 5, "k=\xF0\x9F\x8E\xAEx", "k"), 0);
  EXPECT_EQ(copy_manifest_value(out, 1, "k=a", "k"), 0);
  EXPECT_EQ(copy_manifest_value(out, 0, "k=a", "k"), 0);
}

TEST(ValidHex64, AcceptsOnly64LowerCaseDigits) {
  const std::wstring good = L"0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
  EXPECT_EQ(valid_hex64(good.c_str()), 1);
  EXPECT_EQ(valid_hex64(std::wstring(64, L'0').c_str()), 1);
  EXPECT_EQ(valid_hex64(std::wstring(64, L'f').c_str()), 1);
  EXPECT_EQ(valid_hex64(L""), 0);
  EXPECT_EQ(valid_hex64(good.substr(1).c_str()), 0) << "63 digits";
  EXPECT_EQ(valid_hex64((good + L"0").c_str()), 0) << "65 digits";
  EXPECT_EQ(valid_hex64((L" " + good.substr(1)).c_str()), 0);
  EXPECT_EQ(valid_hex64((good.substr(1) + L" ").c_str()), 0);
  EXPECT_EQ(valid_hex64((L" " + good).c_str()), 0);
  EXPECT_EQ(valid_hex64((good + L" ").c_str()), 0);
  for (size_t at : {size_t{0}, size_t{31}, size_t{63}}) {
    for (wchar_t bad : {L'A', L'F', L'g', L'G', L'x', L'/', L':', L'`', L'-', L'\u00e9', L'\uff10'}) {
      std::wstring text = good;
      text[at] = bad;
      EXPECT_EQ(valid_hex64(text.c_str()), 0) << "unit " << static_cast<unsigned>(bad) << " at " << at;
    }
  }
}

TEST(ParseManifest, OptionalSequenceIsADecimalReleaseNumber) {
  parsed absent(render(good_lines()));
  ASSERT_EQ(absent.result, 1);
  EXPECT_EQ(absent.record->sequence, 0u) << "absent: unknown";

  const std::vector<std::pair<std::string, uint64_t>> good = {
      {"1", 1}, {"5", 5}, {"0042", 42}, {"9999999999999999999", 9999999999999999999ull}};
  for (const auto& [text, value] : good) {
    lines body = good_lines();
    body.push_back({"sequence", text});
    parsed p(render(body));
    EXPECT_EQ(p.result, 1) << text;
    EXPECT_EQ(p.record->sequence, value) << text;
  }
  for (const std::string bad : {"", "0", "000", "-5", "+5", " 5", "5 ", "5\r", "1e3", "0x10", "٣",
                                "10000000000000000000", "99999999999999999999"}) {
    lines body = good_lines();
    body.insert(body.begin() + 2, {"sequence", bad});
    EXPECT_EQ(parses(render(body)), 0) << "[" << bad << "]";
  }
  lines twice = good_lines();
  twice.push_back({"sequence", "7"});
  twice.push_back({"sequence", "x"});
  parsed first(render(twice));
  EXPECT_EQ(first.result, 1) << "the first line with the key counts";
  EXPECT_EQ(first.record->sequence, 7u);
}

// The optional expiry time of a manifest: its strict UTC form, the seconds it stands for, and
// the check against a given time and against the system clock.
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

// The Linux launcher's pair is optional: taken when both keys are sound, otherwise left empty
// without refusing the release (the Windows launcher and the client stay usable).
TEST(ParseManifest, TheLinuxLauncherPairIsTakenOnlyWhenWhole) {
  const std::string url = k_origin + "dl/vorna380-launcher";
  auto linux_pair = [&](const std::string& url_value, const std::string& digest) {
    lines body = good_lines();
    if (!url_value.empty()) body.push_back({"launcher_linux_url", url_value});
    if (!digest.empty()) body.push_back({"launcher_linux_sha256", digest});
    return std::make_unique<parsed>(render(body));
  };
  auto whole = linux_pair(url, k_launcher_digest);
  ASSERT_EQ(whole->result, 1);
  EXPECT_EQ(to_utf8(whole->record->launcher_linux_url), url);
  EXPECT_EQ(to_utf8(whole->record->launcher_linux_sha256), k_launcher_digest);
  for (const auto& [url_value, digest] : std::vector<std::pair<std::string, std::string>>{
           {"", ""}, {url, ""}, {"", k_launcher_digest}, {"https://evil.example/dl/x", k_launcher_digest},
           {url, "0011"}, {url, std::string(64, 'A')}}) {
    auto part = linux_pair(url_value, digest);
    EXPECT_EQ(part->result, 1) << url_value << " " << digest;
    EXPECT_EQ(part->record->launcher_linux_url[0], L'\0') << url_value << " " << digest;
    EXPECT_EQ(part->record->launcher_linux_sha256[0], L'\0') << url_value << " " << digest;
  }
}
