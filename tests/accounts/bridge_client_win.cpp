#include <winsock2.h>
#include <windows.h>
#include <ws2tcpip.h>

#include <cstring>

#include <chrono>
#include <thread>

#include "accounts/bridge.h"
#include "bridge_client.h"

namespace {
bool start_sockets() {
  static bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

sockaddr_in bridge_address() {
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(BRIDGE_PORT);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

bool wait_readable(SOCKET socket, long timeout_ms) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket, &readable);
  timeval timeout = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  return select(0, &readable, nullptr, nullptr, &timeout) > 0;
}
}  // namespace

intptr_t bridge_connect(unsigned timeout_ms, bool dual_stack) {
  if (!start_sockets()) return -1;
  auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    SOCKET s = socket(dual_stack ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return -1;
    sockaddr_in address = bridge_address();
    sockaddr_in6 mapped = {};
    mapped.sin6_family = AF_INET6;
    mapped.sin6_port = htons(BRIDGE_PORT);
    static const unsigned char loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 127, 0, 0, 1};
    memcpy(&mapped.sin6_addr, loopback, sizeof loopback);
    DWORD v6_only = 0;
    bool ready = !dual_stack ||
                 setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&v6_only), sizeof v6_only) == 0;
    int connected = !ready       ? SOCKET_ERROR
                    : dual_stack ? connect(s, reinterpret_cast<sockaddr*>(&mapped), sizeof mapped)
                                 : connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    if (connected == 0) return static_cast<intptr_t>(s);
    closesocket(s);
    if (std::chrono::steady_clock::now() > limit) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool bridge_send(intptr_t connection, const std::string& bytes) {
  return send(static_cast<SOCKET>(connection), bytes.data(), static_cast<int>(bytes.size()), 0) ==
         static_cast<int>(bytes.size());
}

std::string bridge_receive_all(intptr_t connection, unsigned timeout_ms) {
  std::string received;
  auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - std::chrono::steady_clock::now());
    if (left.count() <= 0) return received;
    if (!wait_readable(static_cast<SOCKET>(connection), static_cast<long>(left.count()))) continue;
    char buffer[4096];
    int got = recv(static_cast<SOCKET>(connection), buffer, sizeof buffer, 0);
    if (got <= 0) return received;
    received.append(buffer, static_cast<size_t>(got));
  }
}

void bridge_close(intptr_t connection) {
  if (connection != -1) closesocket(static_cast<SOCKET>(connection));
}

intptr_t bridge_hold_port() {
  if (!start_sockets()) return -1;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return -1;
  sockaddr_in address = bridge_address();
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(s, 2) != 0) {
    closesocket(s);
    return -1;
  }
  return static_cast<intptr_t>(s);
}

bool bridge_accept_one(intptr_t listener, unsigned timeout_ms) {
  if (!wait_readable(static_cast<SOCKET>(listener), static_cast<long>(timeout_ms))) return false;
  SOCKET connection = accept(static_cast<SOCKET>(listener), nullptr, nullptr);
  if (connection == INVALID_SOCKET) return false;
  closesocket(connection);
  return true;
}

std::wstring current_folder() {
  wchar_t path[MAX_PATH * 4];
  DWORD length = GetCurrentDirectoryW(MAX_PATH * 4, path);
  return length > 0 && length < MAX_PATH * 4 ? std::wstring(path, length) : std::wstring();
}

std::wstring program_folder() {
  wchar_t path[MAX_PATH * 4];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  std::wstring text(path, length);
  return text.substr(0, text.rfind(L'\\'));
}

bool create_new_file(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
  CloseHandle(file);
  return ok;
}
