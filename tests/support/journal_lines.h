// Reading journal files back in the tests: line splitting and the time-stamp format.
#pragma once

#include <string>
#include <vector>

struct journal_line {
  std::string stamp;    // "YYYY-MM-DD hh:mm:ss"
  std::string message;  // UTF-8 bytes between "] " and the line end
};

// Splits the bytes into lines of the form "[YYYY-MM-DD hh:mm:ss] message\r\n". False (with the
// offending part in *problem) when any line has another shape, a message holds a line feed, or
// the bytes do not end with a line end.
bool parse_journal(const std::string& bytes, std::vector<journal_line>* lines, std::string* problem);

// The current local time as the C library sees it, in the journal's stamp form.
std::string local_stamp_now();

// Points g_log at a file of its own for the scope, restores it afterwards, and reads the
// journal back; a line of another shape fails the calling test.
struct journal_capture {
  explicit journal_capture(const std::wstring& path);
  ~journal_capture();
  std::vector<journal_line> lines() const;
  // Messages without the time stamp and the line end, in order.
  std::vector<std::string> messages() const;

  std::wstring path;
  std::wstring saved;
};
