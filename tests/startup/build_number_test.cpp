// The build number's marker: found in a file's bytes wherever it stands, only whole.
#include <gtest/gtest.h>

#include <string>

#include "launcher_build.h"
#include "startup/build_number.h"
#include "support/test_support.h"

namespace {
int found_in(const std::string& bytes, uint32_t* number) {
  return find_build_number(bytes.data(), static_cast<uint32_t>(bytes.size()), number);
}
}  // namespace

TEST(BuildNumber, TheMarkerIsFoundOnlyWhole) {
  uint32_t number = 0;
  std::string junk(5000, 'V');
  EXPECT_TRUE(found_in(junk + "VORNA380-BUILD-NUMBER:0000004242;" + junk, &number));
  EXPECT_EQ(number, 4242u);
  // The prefix alone, as a program's own search text stands, a marker cut short, or one
  // without its closing ';' is no marker; the first whole one counts.
  std::string mixed = std::string("VORNA380-BUILD-NUMBER:\0", 23) + "VORNA380-BUILD-NUMBER:000000007;x" +
                      "VORNA380-BUILD-NUMBER:0000000009;VORNA380-BUILD-NUMBER:0000000010;";
  EXPECT_TRUE(found_in(mixed, &number));
  EXPECT_EQ(number, 9u);
  std::string texts[] = {"VORNA380-BUILD-NUMBER:", "VORNA380-BUILD-NUMBER:000000001", "VORNA380-BUILD-NUMBER:0000000012",
                         "VORNA380-BUILD-NUMBER:00000000x2;", "VORNA380-BUILD-NUMBER:9999999999;"};
  for (const std::string& text : texts) EXPECT_FALSE(found_in(text, &number)) << text;
}

TEST(BuildNumber, TheBuiltLauncherCarriesThisBuildsNumber) {
  uint32_t number = 0;
  ASSERT_TRUE(read_build_number(launcher_path().c_str(), &number));
  EXPECT_EQ(number, VORNA380_BUILD_NUMBER);
  EXPECT_EQ(own_build_number(), VORNA380_BUILD_NUMBER);
  EXPECT_FALSE(read_build_number(fixture_path(L"zips/sound.zip").c_str(), &number));
}
