// The Linux desktop entry written for paths with the characters an entry must escape: the
// entry passes desktop-file-validate and its Exec lines name the path as one argument.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "startup/entries_posix.h"
#include "support/test_support.h"

namespace {
std::string line_of(const std::string& text, const std::string& start, size_t from = 0) {
  size_t at = text.find("\n" + start, from);
  if (at == std::string::npos) return "";
  size_t end = text.find('\n', at + 1);
  return text.substr(at + 1, end - at - 1);
}
}  // namespace

TEST(LinuxDesktopEntry, PathsWithSpecialCharactersAreQuotedAndEscapedAndValidate) {
  const std::string root = "/home/a b/$HOME/100%/q\"u`o\\te";
  const std::string installed = root + "/vorna380-launcher";
  char text[16384];
  size_t length = linux_desktop_entry(installed.c_str(), root.c_str(), text, sizeof text);
  ASSERT_GT(length, 0u);
  std::string entry(text, length);
  // In quotes '"', '`', '$' and '\' take a backslash; the file's strings then double every
  // backslash; '%' is written "%%".
  const std::string quoted = "\"/home/a b/\\\\$HOME/100%%/q\\\\\"u\\\\`o\\\\\\\\te/vorna380-launcher\"";
  EXPECT_EQ(line_of(entry, "Exec="), "Exec=" + quoted);
  EXPECT_EQ(line_of(entry, "Exec=", entry.find("[Desktop Action uninstall]")), "Exec=" + quoted + " --uninstall");
  EXPECT_EQ(line_of(entry, "Path="), "Path=/home/a b/$HOME/100%/q\"u`o\\\\te");

  temp_dir dir;
  std::string file = to_utf8(dir / L"vorna380-launcher.desktop");
  ASSERT_TRUE(write_bytes(dir / L"vorna380-launcher.desktop", entry));
  FILE* check = popen(("desktop-file-validate '" + file + "' 2>&1").c_str(), "r");
  ASSERT_NE(check, nullptr);
  char said[1024] = "";
  size_t got = fread(said, 1, sizeof said - 1, check);
  said[got] = '\0';
  EXPECT_EQ(pclose(check), 0) << said;
  EXPECT_STREQ(said, "");
}

TEST(LinuxDesktopEntry, APathWithALineBreakIsNotWritten) {
  char text[16384];
  EXPECT_EQ(linux_desktop_entry("/home/a\nb/vorna380-launcher", "/home/a\nb", text, sizeof text), 0u);
  EXPECT_EQ(linux_desktop_entry("/home/x/vorna380-launcher", "/home/x", text, 64), 0u) << "too small a buffer";
}
