// Running the launcher's two child-process jobs from the tests, as the install worker does.
#pragma once

#include <string>

#include "core/paths.h"
#include "core/text.h"
#include "transfer/powershell.h"

// Points g_root (the child's working folder) at a folder for the scope.
struct root_scope {
  explicit root_scope(const std::wstring& root) : saved(g_root) { copy_text(g_root, PATH_UNITS, root.c_str()); }
  ~root_scope() { copy_text(g_root, PATH_UNITS, saved.c_str()); }
  std::wstring saved;
};

inline int run_download(const std::wstring& url, const std::wstring& destination) {
  set_environment_variable(L"VORNA380_DOWNLOAD_URL", url.c_str());
  set_environment_variable(L"VORNA380_DOWNLOAD_DEST", destination.c_str());
  return powershell(k_download_script);
}

inline int run_extract(const std::wstring& package, const std::wstring& staging) {
  set_environment_variable(L"VORNA380_PACKAGE_PATH", package.c_str());
  set_environment_variable(L"VORNA380_STAGING_PATH", staging.c_str());
  return powershell(k_extract_script);
}

// "Le processus auxiliaire a echoue (code N)." with some N other than 0.
inline bool is_child_failure(const std::string& message) {
  const std::string head = "Le processus auxiliaire a echoue (code ";
  if (message.rfind(head, 0) != 0 || message.size() < head.size() + 3) return false;
  std::string code = message.substr(head.size(), message.size() - head.size() - 2);
  return message.compare(message.size() - 2, 2, ").") == 0 && !code.empty() &&
         code.find_first_not_of("0123456789") == std::string::npos && code != "0";
}
