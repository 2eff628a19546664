// Small client folders written by the tests themselves, and the journal they produce.
#pragma once

#include <string>
#include <vector>

#include "support/journal_lines.h"

// Digest text of the development content for a label (release/dev-contents.txt), and the
// content itself; a label missing from that file fails the calling test.
std::string dev_digest(const std::string& label);
std::string content_of(const std::string& label);

// One list line: "<digest>  <path>\n".
std::string entry(const std::string& digest, const std::string& path);

// The path with both separators turned into this build's, as the journal lines show it.
std::string native(const std::string& path);

// A client folder and the integrity list being written for it.
struct test_client {
  explicit test_client(const std::wstring& folder);

  // Writes the file (folders made as needed; path may use '/' or '\').
  void put(const std::string& path, const std::string& content) const;
  // Writes the file and lists it with the digest of its content.
  void add(const std::string& path, const std::string& content);
  // Writes the file and lists it with another digest.
  void add_listed(const std::string& path, const std::string& listed_digest, const std::string& content);
  // count matching entries pack/fNNNN.bin (numbered from first), listed in order. Entry i
  // names filler file i % FILLER_FILES, so a list of a thousand entries needs only a few tiny
  // files (a repeated entry counts each time).
  void add_fillers(int count, int first = 0);
  static constexpr int FILLER_FILES = 25;

  // Writes client-integrity.sha256 (list as built, or the given bytes) and returns its digest.
  std::string write_list();
  std::string write_list(const std::string& bytes);
  int verify(const std::string& digest) const;

  std::wstring folder;
  std::string list;
  bool fillers_written = false;
};

// The content of filler file i (i < FILLER_FILES) and the path an entry names.
std::string filler_content(int i);
std::string filler_path(int i);

// The journal of one test, read back with or without the verification's progress texts.
struct integrity_journal : journal_capture {
  using journal_capture::journal_capture;
  std::vector<std::string> events() const;
};

extern const char k_bestiary_approved[];
extern const char k_bestiary_complete[];
extern const char k_job_ux_approved[];
extern const char k_job_ux_complete[];
extern const char k_shop_approved[];
extern const char k_shop_complete[];
extern const char k_air_approved[];
extern const char k_updater_approved[];
