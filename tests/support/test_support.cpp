#include "support/test_support.h"

#include <cstring>

#include "core/paths.h"
#include "core/text.h"
#include "trust/digest.h"

std::wstring fixture_path(const std::wstring& relative) { return join(TEST_FIXTURE_DIR, relative); }
std::wstring source_path(const std::wstring& relative) { return join(TEST_SOURCE_DIR, relative); }
std::wstring launcher_path() { return TEST_LAUNCHER_PATH; }

std::wstring join(const std::wstring& folder, const std::wstring& relative) {
  std::wstring result = folder;
  if (!result.empty() && result.back() != PATH_SEPARATOR) result += PATH_SEPARATOR;
  for (wchar_t c : relative) result += (c == L'/' || c == L'\\') ? PATH_SEPARATOR : c;
  return result;
}

std::wstring temp_dir::operator/(const std::wstring& name) const { return join(path, name); }

int run_program(const std::vector<std::wstring>& args, unsigned timeout_ms) {
  intptr_t program = start_program(args);
  return program == 0 ? -1 : wait_program(program, timeout_ms);
}

std::string to_utf8(const std::wstring& text) {
  if (text.empty()) return {};
  std::string out(text.size() * 4, '\0');
  out.resize(wide_to_utf8(text.data(), text.size(), out.data(), out.size()));
  return out;
}

std::wstring from_utf8(const std::string& text) {
  if (text.empty()) return {};
  std::wstring out(text.size(), L'\0');
  out.resize(utf8_to_wide(text.data(), text.size(), out.data(), out.size()));
  return out;
}

std::string sha256_hex(const std::string& bytes) {
  unsigned char digest[DIGEST_BYTES];
  wchar_t text[DIGEST_TEXT_UNITS];
  sha256_bytes(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<uint32_t>(bytes.size()), digest);
  digest_hex(digest, text);
  return to_utf8(text);
}

std::string dev_content(const std::string& label) {
  std::string contents = read_bytes(source_path(L"release/dev-contents.txt"));
  std::string key = label + "=";
  size_t at = 0;
  while (at < contents.size()) {
    size_t end = contents.find('\n', at);
    if (end == std::string::npos) end = contents.size();
    if (contents.compare(at, key.size(), key) == 0) return contents.substr(at + key.size(), end - at - key.size());
    at = end + 1;
  }
  return {};
}
