// The bridge serves processes of this user only: a client that has become another user (uid
// 65534, which needs root) gets "NONE" and the queue stays for the game.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "accounts/accounts.h"
#include "accounts/bridge.h"
#include "accounts/platform.h"
#include "accounts_fixture.h"
#include "bridge_client.h"
#include "core/text.h"

namespace {
const char k_request[] = "GET / HTTP/1.1\r\nHost: 127.0.0.1:32110\r\n\r\n";

// In a child of the given uid (system calls only after the fork): one request, the reply
// read until the bridge closes, passed back through a pipe.
std::string exchange_as_user(uid_t uid) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return "no pipe";
  pid_t child = fork();
  if (child == 0) {
    close(pipe_ends[0]);
    if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0) _exit(2);
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(BRIDGE_PORT);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) _exit(3);
    if (send(fd, k_request, sizeof k_request - 1, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof k_request - 1)) _exit(4);
    char buffer[4096];
    pollfd entry = {fd, POLLIN, 0};
    ssize_t got;
    while (poll(&entry, 1, 10000) > 0 && (got = recv(fd, buffer, sizeof buffer, 0)) > 0) {
      if (write(pipe_ends[1], buffer, static_cast<size_t>(got)) != got) _exit(5);
    }
    _exit(0);
  }
  close(pipe_ends[1]);
  std::string reply;
  char buffer[4096];
  ssize_t got;
  while (child > 0 && (got = read(pipe_ends[0], buffer, sizeof buffer)) > 0)
    reply.append(buffer, static_cast<size_t>(got));
  close(pipe_ends[0]);
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return "child failed: " + std::to_string(status);
  }
  return reply;
}

std::string body_of(const std::string& reply) {
  size_t at = reply.find("\r\n\r\n");
  return at == std::string::npos ? "no reply: " + reply : reply.substr(at + 4);
}

class BridgePeer : public AccountsTest {
 protected:
  void SetUp() override {
    AccountsTest::SetUp();
    start_account_bridge();
  }
  void TearDown() override {
    stop_account_bridge();
    AccountsTest::TearDown();
  }
};
}  // namespace

TEST_F(BridgePeer, AProcessOfAnotherUserGetsNoneAndTheQueueStays) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can connect as uid 65534";
  ASSERT_TRUE(put_account(L"proprio", L"pw"));
  copy_text(g_selected_account, ACCOUNT_NAME_UNITS, L"proprio");
  ASSERT_EQ(queue_selected_account(), 1);
  EXPECT_EQ(body_of(exchange_as_user(65534)), "NONE");
  EXPECT_FALSE(bridge_queue_is_empty());
  EXPECT_EQ(capture.messages(), std::vector<std::string>{"Pont de compte: client refuse, son processus n'est pas un "
                                                         "processus de cet utilisateur (ou ne peut etre examine)."});
  EXPECT_EQ(body_of(bridge_exchange(k_request)), "proprio&pw");
}

// While the bridge runs, the page of the queued login and password is kept out of core dumps:
// the kernel lists it with the "dd" flag in /proc/self/smaps.
TEST(BridgeSecrets, TheQueuesPageIsKeptOutOfCoreDumps) {
  ASSERT_TRUE(open_bridge_signals());
  uintptr_t page = reinterpret_cast<uintptr_t>(&g_pending_secrets);
  FILE* maps = fopen("/proc/self/smaps", "r");
  ASSERT_NE(maps, nullptr);
  char line[512];
  bool inside = false;
  std::string flags;
  while (fgets(line, sizeof line, maps) != nullptr) {
    unsigned long begin = 0;
    unsigned long end = 0;
    if (sscanf(line, "%lx-%lx ", &begin, &end) == 2) {  // a mapping's first line
      inside = page >= begin && page < end;
    } else if (inside && strncmp(line, "VmFlags:", 8) == 0) {
      flags = line;
    }
  }
  fclose(maps);
  close_bridge_signals();
  EXPECT_NE(flags.find(" dd"), std::string::npos) << flags;
}
