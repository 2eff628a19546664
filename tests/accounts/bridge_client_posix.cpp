#include <arpa/inet.h>
#include <fcntl.h>
#include <limits.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "accounts/bridge.h"
#include "bridge_client.h"
#include "support/test_support.h"

namespace {
sockaddr_in bridge_address() {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(BRIDGE_PORT);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}
}  // namespace

intptr_t bridge_connect(unsigned timeout_ms, bool dual_stack) {
  auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int fd = socket(dual_stack ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address = bridge_address();
    sockaddr_in6 mapped = {};
    mapped.sin6_family = AF_INET6;
    mapped.sin6_port = htons(BRIDGE_PORT);
    inet_pton(AF_INET6, "::ffff:127.0.0.1", &mapped.sin6_addr);
    int v6_only = 0;
    bool ready = !dual_stack || setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6_only, sizeof v6_only) == 0;
    int connected = !ready       ? -1
                    : dual_stack ? connect(fd, reinterpret_cast<sockaddr*>(&mapped), sizeof mapped)
                                 : connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    if (connected == 0) return fd;
    close(fd);
    if (std::chrono::steady_clock::now() > limit) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool bridge_send(intptr_t connection, const std::string& bytes) {
  return send(static_cast<int>(connection), bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
         static_cast<ssize_t>(bytes.size());
}

std::string bridge_receive_all(intptr_t connection, unsigned timeout_ms) {
  std::string received;
  auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - std::chrono::steady_clock::now());
    if (left.count() <= 0) return received;
    pollfd entry = {static_cast<int>(connection), POLLIN, 0};
    if (poll(&entry, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    ssize_t got = recv(static_cast<int>(connection), buffer, sizeof buffer, 0);
    if (got <= 0) return received;
    received.append(buffer, static_cast<size_t>(got));
  }
}

void bridge_close(intptr_t connection) {
  if (connection >= 0) close(static_cast<int>(connection));
}

intptr_t bridge_hold_port() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int reuse = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  sockaddr_in address = bridge_address();
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 2) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool bridge_accept_one(intptr_t listener, unsigned timeout_ms) {
  pollfd entry = {static_cast<int>(listener), POLLIN, 0};
  if (poll(&entry, 1, static_cast<int>(timeout_ms)) <= 0) return false;
  int connection = accept(static_cast<int>(listener), nullptr, nullptr);
  if (connection < 0) return false;
  close(connection);
  return true;
}

std::wstring current_folder() {
  char path[PATH_MAX];
  return getcwd(path, sizeof path) != nullptr ? from_utf8(path) : std::wstring();
}

std::wstring program_folder() {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  std::string text(path, static_cast<size_t>(length));
  return from_utf8(text.substr(0, text.rfind('/')));
}

bool create_new_file(const std::wstring& path, const std::string& bytes) {
  int fd = open(to_utf8(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  close(fd);
  return ok;
}
