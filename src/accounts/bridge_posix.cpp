#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "accounts/accounts.h"
#include "accounts/bridge.h"
#include "accounts/platform.h"
#include "accounts/wipe.h"
#include "core/journal.h"

namespace {
pthread_mutex_t g_bridge_lock = PTHREAD_MUTEX_INITIALIZER;
std::atomic<int> g_bridge_stop{0};
// 1 when fd became readable within the time, 0 when not, -1 on error.
int wait_readable(int fd, unsigned timeout_ms) {
  pollfd entry = {fd, POLLIN, 0};
  int ready = poll(&entry, 1, static_cast<int>(timeout_ms));
  if (ready < 0) return errno == EINTR ? 0 : -1;
  return ready > 0 ? 1 : 0;
}

// The address of one end of the connection (the peer's or ours).
bool connection_end(int connection, bool peer, sockaddr_in* address) {
  socklen_t size = sizeof *address;
  sockaddr* raw = reinterpret_cast<sockaddr*>(address);
  int got = peer ? getpeername(connection, raw, &size) : getsockname(connection, raw, &size);
  return got == 0 && size == sizeof *address && address->sin_family == AF_INET;
}

// The uid column of the kernel's row for the socket with this local and remote end, in
// /proc/net/tcp, or in /proc/net/tcp6 for a client on a dual-stack socket (its addresses the
// IPv4 ones mapped, ::ffff:a.b.c.d). Addresses are printed as raw 32-bit words in hexadecimal
// (one for IPv4, four for IPv6), ports as numbers.
bool socket_owner_uid(const sockaddr_in& local, const sockaddr_in& remote, unsigned* uid) {
  const uint32_t mapped = htonl(0xFFFFu);  // the third word of a mapped address
  bool found = false;
  for (int ipv6 = 0; ipv6 < 2 && !found; ++ipv6) {
    FILE* table = fopen(ipv6 ? "/proc/net/tcp6" : "/proc/net/tcp", "re");
    if (table == nullptr) continue;
    char line[512];
    while (!found && fgets(line, sizeof line, table) != nullptr) {
      unsigned l[4] = {}, r[4] = {}, local_port, remote_port, owner;
      int fields = ipv6 ? sscanf(line, " %*u: %8x%8x%8x%8x:%x %8x%8x%8x%8x:%x %*x %*x:%*x %*x:%*x %*x %u", &l[0], &l[1],
                                 &l[2], &l[3], &local_port, &r[0], &r[1], &r[2], &r[3], &remote_port, &owner)
                        : sscanf(line, " %*u: %x:%x %x:%x %*x %*x:%*x %*x:%*x %*x %u", &l[3], &local_port, &r[3],
                                 &remote_port, &owner);
      if (fields != (ipv6 ? 11 : 5)) continue;
      bool addresses =
          ipv6 ? l[0] == 0 && l[1] == 0 && l[2] == mapped && r[0] == 0 && r[1] == 0 && r[2] == mapped : true;
      found = addresses && l[3] == local.sin_addr.s_addr && local_port == ntohs(local.sin_port) &&
              r[3] == remote.sin_addr.s_addr && remote_port == ntohs(remote.sin_port);
      if (found) *uid = owner;
    }
    fclose(table);
  }
  return found;
}
}  // namespace

void enter_bridge_lock() {
  if (g_bridge_initialized) pthread_mutex_lock(&g_bridge_lock);
}

void leave_bridge_lock() {
  if (g_bridge_initialized) pthread_mutex_unlock(&g_bridge_lock);
}

int bridge_stop_requested() { return g_bridge_stop.load() != 0; }

uint64_t bridge_clock_ms() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

long bridge_connection_receive(intptr_t connection, char* buffer, size_t size, unsigned timeout_ms) {
  int fd = static_cast<int>(connection);
  int ready = wait_readable(fd, timeout_ms);
  if (ready < 0) return 0;
  if (ready == 0) return -1;
  ssize_t got;
  do {
    got = recv(fd, buffer, size, 0);
  } while (got < 0 && errno == EINTR);
  return got > 0 ? static_cast<long>(got) : 0;
}

void bridge_connection_send(intptr_t connection, const char* bytes, size_t size) {
  ssize_t sent = send(static_cast<int>(connection), bytes, size, MSG_NOSIGNAL);
  (void)sent;  // one send, no retry
}

// The peer's socket is the row whose local end is our remote end and the other way round.
int bridge_peer_is_same_user(intptr_t connection) {
  sockaddr_in ours, peer;
  if (!connection_end(static_cast<int>(connection), false, &ours) ||
      !connection_end(static_cast<int>(connection), true, &peer)) {
    return 0;
  }
  unsigned uid;
  if (!socket_owner_uid(peer, ours, &uid)) return journal_refused_peer(0);
  return uid == geteuid() ? 1 : journal_refused_peer(1);
}

// Address reuse is asked for on Linux only so that connections of an earlier launcher still in
// TIME_WAIT do not keep the port; Linux never lets a second listener take a port in use.
void account_bridge_worker() {
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (listener < 0) return;
  int reuse = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(BRIDGE_PORT);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, BRIDGE_BACKLOG) != 0) {
    close(listener);
    return;
  }
  while (!bridge_stop_requested()) {
    expire_bridge_queue();
    if (wait_readable(listener, BRIDGE_POLL_MS) <= 0) continue;
    int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    serve_bridge_connection(connection);
    close(connection);
  }
  close(listener);
}

int exclude_secrets_from_dumps() { return madvise(&g_pending_secrets, sizeof g_pending_secrets, MADV_DONTDUMP) == 0; }

int open_bridge_signals() {
  if (!exclude_secrets_from_dumps()) {
    log_windows_error(L"Exclusion des identifiants en attente des vidages memoire impossible",
                      static_cast<uint32_t>(errno));
  }
  g_bridge_initialized = 1;
  g_bridge_stop.store(0);
  return 1;
}

void request_bridge_stop() { g_bridge_stop.store(1); }

void close_bridge_signals() {
  if (!g_bridge_initialized) return;
  pthread_mutex_lock(&g_bridge_lock);
  wipe_memory(g_pending_password, sizeof g_pending_password);
  pthread_mutex_unlock(&g_bridge_lock);
  // The lock is static: it stays usable should a thread that outlived the wait still take it.
  g_bridge_initialized = 0;
}
