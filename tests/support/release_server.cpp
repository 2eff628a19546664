#include "support/release_server.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "core/paths.h"
#include "release_profile.h"
#include "support/test_support.h"

namespace {
std::wstring environment(const char* name) {
  const char* value = getenv(name);
  return value != nullptr ? from_utf8(value) : std::wstring();
}

std::wstring www() { return join(release_server_dir(), L"www"); }
std::wstring log_path() { return join(release_server_dir(), L"logs/access.log"); }

std::wstring origin_host_name() {
  std::wstring host = VORNA380_ORIGIN_HOST;
  return host.substr(0, host.find(L':'));
}
}  // namespace

std::wstring release_server_dir() {
  std::wstring dir = environment("VORNA380_RELEASE_SERVER");
#ifdef _WIN32
  // A Linux path: Wine shows the Linux file system as drive Z:.
  if (!dir.empty() && dir[0] == L'/') dir = L"Z:" + dir;
  for (wchar_t& c : dir) c = c == L'/' ? L'\\' : c;
#endif
  return dir;
}

bool release_server_required() {
  std::wstring ci = environment("CI");
  return !ci.empty() && ci != L"0" && ci != L"false";
}

int origin_port() {
  std::wstring host = VORNA380_ORIGIN_HOST;
  size_t colon = host.find(L':');
  return colon == std::wstring::npos ? 443 : std::stoi(host.substr(colon + 1));
}

std::wstring origin_url(const std::wstring& path) { return VORNA380_RELEASE_ORIGIN + path; }

std::wstring server_url(int port_offset, bool https, const std::wstring& path) {
  return (https ? L"https://" : L"http://") + origin_host_name() + L":" + std::to_wstring(origin_port() + port_offset) +
         L"/" + path;
}

bool serve_release(const std::wstring& name) {
  remove_tree(www());
  return link_or_copy_tree(fixture_path(L"releases/" + name), www());
}

bool serve_file(const std::wstring& path, const std::string& bytes) {
  std::wstring full = join(www(), path);
  make_dirs(full.substr(0, full.rfind(PATH_SEPARATOR)));
  // The served file may be a hard link to a fixture: replace it, never write into it.
  remove_tree(full);
  return write_bytes(full, bytes);
}

bool purge_edge_caches() {
  bool purged = true;
  for (const wchar_t* edge : {L"edge-a", L"edge-b"}) {
    std::wstring cache = join(join(release_server_dir(), edge), L"cache");
    remove_tree(cache);
    purged = make_dirs(cache) && purged;
  }
  return purged;
}

std::string fault_file(const std::wstring& name) { return read_bytes(join(release_server_dir(), L"fault/" + name)); }

access_log::access_log(const std::wstring& edge)
    : file(edge.empty() ? log_path() : join(join(release_server_dir(), edge), L"access.log")),
      start(read_bytes(file).size()) {}

std::string access_log::since(const std::string& needle, unsigned timeout_ms) const {
  // nginx writes the line when it has sent the answer, which may be just after the client saw it.
  for (unsigned waited = 0;; waited += 20) {
    std::string all = read_bytes(file);
    std::string part = all.size() > start ? all.substr(start) : std::string();
    if (needle.empty() || part.find(needle) != std::string::npos || waited >= timeout_ms) return part;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}
