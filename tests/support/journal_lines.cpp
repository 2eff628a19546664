#include "support/journal_lines.h"

#include <gtest/gtest.h>

#include <ctime>

#include "core/paths.h"
#include "core/text.h"
#include "support/test_support.h"

namespace {
bool digits(const std::string& text, size_t at, size_t count) {
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

// "[YYYY-MM-DD hh:mm:ss] " is 22 bytes.
bool stamp_shape(const std::string& line) {
  if (line.size() < 22) return false;
  return line[0] == '[' && digits(line, 1, 4) && line[5] == '-' && digits(line, 6, 2) && line[8] == '-' &&
         digits(line, 9, 2) && line[11] == ' ' && digits(line, 12, 2) && line[14] == ':' && digits(line, 15, 2) &&
         line[17] == ':' && digits(line, 18, 2) && line[20] == ']' && line[21] == ' ';
}
}  // namespace

bool parse_journal(const std::string& bytes, std::vector<journal_line>* lines, std::string* problem) {
  lines->clear();
  size_t at = 0;
  while (at < bytes.size()) {
    size_t end = bytes.find("\r\n", at);
    if (end == std::string::npos) {
      *problem = "no line end after: " + bytes.substr(at, 80);
      return false;
    }
    std::string line = bytes.substr(at, end - at);
    // A message may hold a carriage return of its own (a listed path can end in one), but a
    // line feed inside a line means two lines ran into each other.
    if (!stamp_shape(line) || line.find('\n') != std::string::npos) {
      *problem = "malformed line: " + line.substr(0, 120);
      return false;
    }
    lines->push_back({line.substr(1, 19), line.substr(22)});
    at = end + 2;
  }
  return true;
}

std::string local_stamp_now() {
  std::time_t now = std::time(nullptr);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
  return text;
}

journal_capture::journal_capture(const std::wstring& path) : path(path), saved(g_log) {
  copy_text(g_log, PATH_UNITS, path.c_str());
}

journal_capture::~journal_capture() { copy_text(g_log, PATH_UNITS, saved.c_str()); }

std::vector<journal_line> journal_capture::lines() const {
  std::vector<journal_line> parsed;
  std::string problem;
  EXPECT_TRUE(parse_journal(read_bytes(path), &parsed, &problem)) << problem;
  return parsed;
}

std::vector<std::string> journal_capture::messages() const {
  std::vector<std::string> result;
  for (const journal_line& line : lines()) result.push_back(line.message);
  return result;
}
