#include <winsock2.h>
#include <windows.h>

#include "accounts/accounts.h"
#include "accounts/bridge.h"
#include "accounts/wipe.h"

CRITICAL_SECTION g_bridge_lock;
HANDLE g_bridge_stop = nullptr;
HANDLE g_bridge_thread = nullptr;

namespace {
DWORD WINAPI bridge_thread_entry(LPVOID argument) { return account_bridge_worker(argument); }

// 1 when the socket became readable within the time, 0 when not, -1 on error.
int wait_readable(SOCKET socket, unsigned timeout_ms) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket, &readable);
  timeval timeout = {0, static_cast<long>(timeout_ms) * 1000};
  int ready = select(0, &readable, nullptr, nullptr, &timeout);
  if (ready == SOCKET_ERROR) return -1;
  return ready > 0 ? 1 : 0;
}

// One read of the request, waiting at most 2 s for it (nothing read then counts as an empty
// request); -1 when the bridge is asked to stop meanwhile.
long read_request(SOCKET connection, char* request) {
  for (unsigned waited = 0; waited < BRIDGE_READ_TIMEOUT_MS; waited += BRIDGE_POLL_MS) {
    if (bridge_stop_requested()) return -1;
    int ready = wait_readable(connection, BRIDGE_POLL_MS);
    if (ready < 0) return 0;
    if (ready == 0) continue;
    int got = recv(connection, request, static_cast<int>(BRIDGE_REQUEST_BYTES), 0);
    return got > 0 ? got : 0;
  }
  return 0;
}

void serve_connection(SOCKET connection) {
  char request[BRIDGE_REQUEST_BYTES];
  long count = read_request(connection, request);
  if (count < 0) return;
  char reply[REPLY_BYTES];
  size_t length = build_bridge_reply(request, static_cast<size_t>(count), reply);
  if (length > 0) send(connection, reply, static_cast<int>(length), 0);
  wipe_memory(reply, sizeof reply);
}
}  // namespace

void enter_bridge_lock() {
  if (g_bridge_initialized) EnterCriticalSection(&g_bridge_lock);
}

void leave_bridge_lock() {
  if (g_bridge_initialized) LeaveCriticalSection(&g_bridge_lock);
}

int bridge_stop_requested() { return WaitForSingleObject(g_bridge_stop, 0) != WAIT_TIMEOUT; }

uint32_t account_bridge_worker(void*) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 1;
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == INVALID_SOCKET) {
    WSACleanup();
    return 0;
  }
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(BRIDGE_PORT);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == SOCKET_ERROR ||
      listen(listener, BRIDGE_BACKLOG) == SOCKET_ERROR) {
    closesocket(listener);
    WSACleanup();
    return 0;
  }
  while (!bridge_stop_requested()) {
    if (wait_readable(listener, BRIDGE_POLL_MS) <= 0) continue;
    SOCKET connection = accept(listener, nullptr, nullptr);
    if (connection == INVALID_SOCKET) continue;
    serve_connection(connection);
    closesocket(connection);
  }
  closesocket(listener);
  WSACleanup();
  return 0;
}

void start_account_bridge() {
  InitializeCriticalSection(&g_bridge_lock);
  g_bridge_initialized = 1;
  g_bridge_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (g_bridge_stop != nullptr) {
    g_bridge_thread = CreateThread(nullptr, 0, bridge_thread_entry, nullptr, 0, nullptr);
  }
}

void stop_account_bridge() {
  if (g_bridge_stop != nullptr) SetEvent(g_bridge_stop);
  if (g_bridge_thread != nullptr) {
    WaitForSingleObject(g_bridge_thread, 2000);
    CloseHandle(g_bridge_thread);
    g_bridge_thread = nullptr;
  }
  if (g_bridge_stop != nullptr) {
    CloseHandle(g_bridge_stop);
    g_bridge_stop = nullptr;
  }
  if (g_bridge_initialized) {
    EnterCriticalSection(&g_bridge_lock);
    wipe_memory(g_pending_password, sizeof g_pending_password);
    LeaveCriticalSection(&g_bridge_lock);
    DeleteCriticalSection(&g_bridge_lock);
    g_bridge_initialized = 0;
  }
}
