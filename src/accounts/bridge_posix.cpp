#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "accounts/accounts.h"
#include "accounts/bridge.h"
#include "accounts/wipe.h"

namespace {
pthread_mutex_t g_bridge_lock = PTHREAD_MUTEX_INITIALIZER;
std::atomic<int> g_bridge_stop{0};
pthread_t g_bridge_thread;
bool g_bridge_thread_running = false;

void* bridge_thread_entry(void* argument) {
  account_bridge_worker(argument);
  return nullptr;
}

// 1 when fd became readable within the time, 0 when not, -1 on error.
int wait_readable(int fd, unsigned timeout_ms) {
  pollfd entry = {fd, POLLIN, 0};
  int ready = poll(&entry, 1, static_cast<int>(timeout_ms));
  if (ready < 0) return errno == EINTR ? 0 : -1;
  return ready > 0 ? 1 : 0;
}

// One read of the request, waiting at most 2 s for it (nothing read then counts as an empty
// request); -1 when the bridge is asked to stop meanwhile.
long read_request(int connection, char* request) {
  for (unsigned waited = 0; waited < BRIDGE_READ_TIMEOUT_MS; waited += BRIDGE_POLL_MS) {
    if (bridge_stop_requested()) return -1;
    int ready = wait_readable(connection, BRIDGE_POLL_MS);
    if (ready < 0) return 0;
    if (ready == 0) continue;
    ssize_t got;
    do {
      got = recv(connection, request, BRIDGE_REQUEST_BYTES, 0);
    } while (got < 0 && errno == EINTR);
    return got > 0 ? static_cast<long>(got) : 0;
  }
  return 0;
}

void serve_connection(int connection) {
  char request[BRIDGE_REQUEST_BYTES];
  long count = read_request(connection, request);
  if (count < 0) return;
  char reply[REPLY_BYTES];
  size_t length = build_bridge_reply(request, static_cast<size_t>(count), reply);
  if (length > 0) {
    ssize_t sent = send(connection, reply, length, MSG_NOSIGNAL);
    (void)sent;
  }
  wipe_memory(reply, sizeof reply);
}
}  // namespace

void enter_bridge_lock() {
  if (g_bridge_initialized) pthread_mutex_lock(&g_bridge_lock);
}

void leave_bridge_lock() {
  if (g_bridge_initialized) pthread_mutex_unlock(&g_bridge_lock);
}

int bridge_stop_requested() { return g_bridge_stop.load() != 0; }

// Address reuse is asked for on Linux only so that connections of an earlier launcher still in
// TIME_WAIT do not keep the port; Linux never lets a second listener take a port in use.
uint32_t account_bridge_worker(void*) {
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (listener < 0) return 0;
  int reuse = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(BRIDGE_PORT);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, BRIDGE_BACKLOG) != 0) {
    close(listener);
    return 0;
  }
  while (!bridge_stop_requested()) {
    if (wait_readable(listener, BRIDGE_POLL_MS) <= 0) continue;
    int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    serve_connection(connection);
    close(connection);
  }
  close(listener);
  return 0;
}

void start_account_bridge() {
  g_bridge_initialized = 1;
  g_bridge_stop.store(0);
  g_bridge_thread_running = pthread_create(&g_bridge_thread, nullptr, bridge_thread_entry, nullptr) == 0;
}

void stop_account_bridge() {
  g_bridge_stop.store(1);
  if (g_bridge_thread_running) {
    timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += 2;
    if (pthread_timedjoin_np(g_bridge_thread, nullptr, &deadline) != 0) pthread_detach(g_bridge_thread);
    g_bridge_thread_running = false;
  }
  if (g_bridge_initialized) {
    pthread_mutex_lock(&g_bridge_lock);
    wipe_memory(g_pending_password, sizeof g_pending_password);
    pthread_mutex_unlock(&g_bridge_lock);
    // The lock is static: it stays usable should a thread that outlived the wait still take it.
    g_bridge_initialized = 0;
  }
}
