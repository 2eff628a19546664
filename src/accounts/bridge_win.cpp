#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstdlib>

#include "accounts/accounts.h"
#include "accounts/bridge.h"
#include "accounts/platform.h"
#include "accounts/wipe.h"

CRITICAL_SECTION g_bridge_lock;
HANDLE g_bridge_stop = nullptr;

namespace {
// 1 when the socket became readable within the time, 0 when not, -1 on error.
int wait_readable(SOCKET socket, unsigned timeout_ms) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket, &readable);
  timeval timeout = {static_cast<long>(timeout_ms / 1000), static_cast<long>(timeout_ms % 1000) * 1000};
  int ready = select(0, &readable, nullptr, nullptr, &timeout);
  if (ready == SOCKET_ERROR) return -1;
  return ready > 0 ? 1 : 0;
}

// The address of one end of the connection (the peer's or ours).
bool connection_end(SOCKET connection, bool peer, sockaddr_in* address) {
  int size = sizeof *address;
  sockaddr* raw = reinterpret_cast<sockaddr*>(address);
  int got = peer ? getpeername(connection, raw, &size) : getsockname(connection, raw, &size);
  return got == 0 && size == sizeof *address && address->sin_family == AF_INET;
}

// The system's TCP table of one address family (IPv4 rows, or IPv6 rows, where a client on a
// dual-stack socket appears with its IPv4 address mapped), malloc'd; null when unreadable. The
// table can grow between asking its size and reading it (connections opened or left in
// TIME_WAIT meanwhile): each buffer has room for a quarter more rows than last asked for.
void* read_tcp_table(ULONG family, size_t row_bytes) {
  void* table = nullptr;
  ULONG size = 0;
  DWORD result = ERROR_INSUFFICIENT_BUFFER;
  for (int attempt = 0; attempt < 8 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
    if (size > 0) {
      free(table);
      table = nullptr;
      if (size > (1UL << 28)) return nullptr;  // no table of a sane system is that large
      size += size / 4 + 32 * static_cast<ULONG>(row_bytes);
      table = malloc(size);
      if (table == nullptr) return nullptr;
    }
    result = GetExtendedTcpTable(table, &size, FALSE, family, TCP_TABLE_OWNER_PID_ALL, 0);
  }
  if (result == NO_ERROR && table != nullptr) return table;
  free(table);
  return nullptr;
}

// Whether the IPv6 address is the IPv4 one mapped (::ffff:a.b.c.d).
bool maps_address(const UCHAR* address, const in_addr& ipv4) {
  static const UCHAR prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  return memcmp(address, prefix, sizeof prefix) == 0 && memcmp(address + 12, &ipv4, 4) == 0;
}

// The process owning the socket with this local and remote end, from the system's TCP tables
// (ports in network order in the low 16 bits of their fields).
bool socket_owner_process(const sockaddr_in& local, const sockaddr_in& remote, DWORD* process_id) {
  bool found = false;
  if (auto* rows = static_cast<MIB_TCPTABLE_OWNER_PID*>(read_tcp_table(AF_INET, sizeof(MIB_TCPROW_OWNER_PID)))) {
    for (DWORD i = 0; i < rows->dwNumEntries && !found; ++i) {
      const MIB_TCPROW_OWNER_PID& row = rows->table[i];
      found = row.dwLocalAddr == local.sin_addr.s_addr && (row.dwLocalPort & 0xFFFF) == local.sin_port &&
              row.dwRemoteAddr == remote.sin_addr.s_addr && (row.dwRemotePort & 0xFFFF) == remote.sin_port;
      if (found) *process_id = row.dwOwningPid;
    }
    free(rows);
  }
  if (found) return true;
  if (auto* rows = static_cast<MIB_TCP6TABLE_OWNER_PID*>(read_tcp_table(AF_INET6, sizeof(MIB_TCP6ROW_OWNER_PID)))) {
    for (DWORD i = 0; i < rows->dwNumEntries && !found; ++i) {
      const MIB_TCP6ROW_OWNER_PID& row = rows->table[i];
      found = maps_address(row.ucLocalAddr, local.sin_addr) && (row.dwLocalPort & 0xFFFF) == local.sin_port &&
              maps_address(row.ucRemoteAddr, remote.sin_addr) && (row.dwRemotePort & 0xFFFF) == remote.sin_port;
      if (found) *process_id = row.dwOwningPid;
    }
    free(rows);
  }
  return found;
}

// The user of the process's token, copied into user (a buffer of TOKEN_USER_BYTES).
constexpr DWORD TOKEN_USER_BYTES = sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE;
bool token_user_of(HANDLE process, unsigned char* user) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return false;
  DWORD size = 0;
  bool ok = GetTokenInformation(token, TokenUser, user, TOKEN_USER_BYTES, &size) != 0;
  CloseHandle(token);
  return ok;
}

bool process_of_this_user(DWORD process_id) {
  if (process_id == 0) return false;  // the system's idle process, or a socket Windows could not place
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
  if (process == nullptr) return false;
  alignas(TOKEN_USER) unsigned char peer_user[TOKEN_USER_BYTES];
  alignas(TOKEN_USER) unsigned char own_user[TOKEN_USER_BYTES];
  bool same =
      token_user_of(process, peer_user) && token_user_of(GetCurrentProcess(), own_user) &&
      EqualSid(reinterpret_cast<TOKEN_USER*>(peer_user)->User.Sid, reinterpret_cast<TOKEN_USER*>(own_user)->User.Sid);
  CloseHandle(process);
  return same;
}
}  // namespace

void enter_bridge_lock() {
  if (g_bridge_initialized) EnterCriticalSection(&g_bridge_lock);
}

void leave_bridge_lock() {
  if (g_bridge_initialized) LeaveCriticalSection(&g_bridge_lock);
}

int bridge_stop_requested() { return WaitForSingleObject(g_bridge_stop, 0) != WAIT_TIMEOUT; }

uint64_t bridge_clock_ms() { return GetTickCount64(); }

long bridge_connection_receive(intptr_t connection, char* buffer, size_t size, unsigned timeout_ms) {
  SOCKET socket = static_cast<SOCKET>(connection);
  int ready = wait_readable(socket, timeout_ms);
  if (ready < 0) return 0;
  if (ready == 0) return -1;
  int got = recv(socket, buffer, static_cast<int>(size), 0);
  return got > 0 ? got : 0;
}

void bridge_connection_send(intptr_t connection, const char* bytes, size_t size) {
  send(static_cast<SOCKET>(connection), bytes, static_cast<int>(size), 0);  // one send, no retry
}

// The peer's socket is the row whose local end is our remote end and the other way round.
int bridge_peer_is_same_user(intptr_t connection) {
  SOCKET socket = static_cast<SOCKET>(connection);
  sockaddr_in ours, peer;
  DWORD process_id = 0;
  if (!connection_end(socket, false, &ours) || !connection_end(socket, true, &peer)) return 0;
  if (!socket_owner_process(peer, ours, &process_id)) return journal_refused_peer(0);
  // An elevated game's token cannot be read from an unelevated launcher: it is refused too.
  return process_of_this_user(process_id) ? 1 : journal_refused_peer(1);
}

void account_bridge_worker() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == INVALID_SOCKET) {
    WSACleanup();
    return;
  }
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(BRIDGE_PORT);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == SOCKET_ERROR ||
      listen(listener, BRIDGE_BACKLOG) == SOCKET_ERROR) {
    closesocket(listener);
    WSACleanup();
    return;
  }
  while (!bridge_stop_requested()) {
    expire_bridge_queue();
    if (wait_readable(listener, BRIDGE_POLL_MS) <= 0) continue;
    SOCKET connection = accept(listener, nullptr, nullptr);
    if (connection == INVALID_SOCKET) continue;
    serve_bridge_connection(static_cast<intptr_t>(connection));
    closesocket(connection);
  }
  closesocket(listener);
  WSACleanup();
}

int exclude_secrets_from_dumps() {
  // Windows 10 and later; looked up, so that the launcher still starts where it is missing.
  using exclude_block = HRESULT(WINAPI*)(const void*, DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  exclude_block exclude = kernel != nullptr ? reinterpret_cast<exclude_block>(reinterpret_cast<void*>(
                                                  GetProcAddress(kernel, "WerRegisterExcludedMemoryBlock")))
                                            : nullptr;
  return exclude != nullptr && SUCCEEDED(exclude(&g_pending_secrets, sizeof g_pending_secrets));
}

int open_bridge_signals() {
  exclude_secrets_from_dumps();
  InitializeCriticalSection(&g_bridge_lock);
  g_bridge_initialized = 1;
  g_bridge_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return g_bridge_stop != nullptr;
}

void request_bridge_stop() {
  if (g_bridge_stop != nullptr) SetEvent(g_bridge_stop);
}

void close_bridge_signals() {
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
