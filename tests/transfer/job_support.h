// Running the launcher's two child-process jobs from the tests, as the install worker does.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core/paths.h"
#include "core/text.h"
#include "support/journal_lines.h"
#include "support/test_support.h"
#include "transfer/download.h"
#include "transfer/powershell.h"

// Points g_root (the child's working folder) at a folder for the scope.
struct root_scope {
  explicit root_scope(const std::wstring& root) : saved(g_root) { copy_text(g_root, PATH_UNITS, root.c_str()); }
  ~root_scope() { copy_text(g_root, PATH_UNITS, saved.c_str()); }
  std::wstring saved;
};

// Shortens the minimum rate's window to 2 s for the scope, so that a transfer far below the rate
// (the server's /trickle/ paths) is abandoned in seconds; and the journal line that says so.
struct short_rate_window {
  short_rate_window() { g_rate_window_ms = 2000; }
  ~short_rate_window() { g_rate_window_ms = TRANSFER_RATE_WINDOW_MS; }
};
inline std::string too_slow_line(const std::wstring& url) {
  return "Transfert abandonne: moins de 16 Kio/s pendant 2 s (" + to_utf8(url) + ").";
}

// A download writes at most cap bytes (0: no cap).
inline int run_download(const std::wstring& url, const std::wstring& destination, uint64_t cap = 0) {
  job_parameters job = download_job(url.c_str(), destination.c_str(), cap);
  return powershell(k_download_script, &job);
}

inline int run_extract(const std::wstring& package, const std::wstring& staging) {
  job_parameters job = extract_job(package.c_str(), staging.c_str());
  return powershell(k_extract_script, &job);
}

// "Le processus auxiliaire a echoue (code N)." with some N other than 0.
inline bool is_child_failure(const std::string& message) {
  const std::string head = "Le processus auxiliaire a echoue (code ";
  if (message.rfind(head, 0) != 0 || message.size() < head.size() + 3) return false;
  std::string code = message.substr(head.size(), message.size() - head.size() - 2);
  return message.compare(message.size() - 2, 2, ").") == 0 && !code.empty() &&
         code.find_first_not_of("0123456789") == std::string::npos && code != "0";
}

// A scratch root that is the job's working folder, its journal captured.
struct job_scratch {
  temp_dir dir;
  root_scope root{dir.path};
  journal_capture journal{dir / L"launcher.log"};
};

// An extraction into "Client.new" of a scratch root.
class ExtractJob : public ::testing::Test, protected job_scratch {
 protected:
  std::wstring staging = dir / L"Client.new";

  static std::wstring zip(const std::wstring& name) { return fixture_path(L"zips/" + name); }
};
