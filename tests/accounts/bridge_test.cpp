#include <gtest/gtest.h>
#ifndef _WIN32
#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "ui/account_menu.h"
#include "accounts/accounts.h"
#include "accounts/bridge.h"
#include "accounts/platform.h"
#include "accounts_fixture.h"
#include "core/text.h"
#include "accounts_test_platform.h"
#include "bridge_client.h"

namespace {
const char k_request[] = "GET / HTTP/1.1\r\nHost: 127.0.0.1:32110\r\n\r\n";

std::string reply_with(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nCache-Control: no-store\r\nConnection: close\r\n"
         "Content-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string encoded(const std::wstring& text) {
  char out[ENCODED_BYTES];
  memset(out, 'x', sizeof out);
  url_encode_utf8(text.c_str(), out);
  return out;
}

bool allowed(const std::string& request) { return bridge_request_allowed(request.data(), request.size()) != 0; }

int32_t pending() {
  enter_bridge_lock();
  int32_t value = g_pending_account;
  leave_bridge_lock();
  return value;
}

// Each test runs its own bridge on the real port and stops it again.
class AccountBridge : public AccountsTest {
 protected:
  void SetUp() override {
    AccountsTest::SetUp();
    g_pending_account = 0;
    start_account_bridge();
  }
  void TearDown() override {
    stop_account_bridge();
    g_pending_account = 0;
    AccountsTest::TearDown();
  }
  void queue(const std::wstring& login, const std::wstring& password) {
    ASSERT_TRUE(put_account(login, password));
    copy_text(g_selected_account, ACCOUNT_NAME_UNITS, login.c_str());
    ASSERT_EQ(queue_selected_account(), 1);
  }
};
}  // namespace

TEST(UrlEncoding, KeepsTheUnreservedSetAndEncodesEveryOtherUtf8Byte) {
  EXPECT_EQ(encoded(L"AZaz09-._~"), "AZaz09-._~");
  EXPECT_EQ(encoded(L"a b&c=d+e/%"), "a%20b%26c%3Dd%2Be%2F%25");
  EXPECT_EQ(encoded(L"\u00e9\u20ac\U0001F600"), "%C3%A9%E2%82%AC%F0%9F%98%80");
  EXPECT_EQ(encoded(L""), "");
  // Cut before a triplet that would pass 1022 characters, never inside one.
  std::string cut = encoded(L"aa" + std::wstring(300, L'\u00e9'));
  EXPECT_EQ(cut.size(), 1022u);
  EXPECT_EQ(cut.substr(0, 5), "aa%C3");
  EXPECT_EQ(cut.substr(cut.size() - 6), "%C3%A9");
  EXPECT_EQ(encoded(L"a" + std::wstring(300, L'\u00e9')).size(), 1021u);
  EXPECT_EQ(encoded(std::wstring(1023, L'k')), std::string(1020, 'k'));
  EXPECT_EQ(encoded(std::wstring(1024, L'k')), "") << "UTF-8 form longer than 1023 bytes";
  EXPECT_EQ(encoded(std::wstring(400, L'\u20ac')), "");
}

TEST(BridgeRequestCheck, JudgesTheWholeHeaderBlockAndRefusesBrowserHeadersAndForeignHosts) {
  const char* const served[] = {
      "GET / HTTP/1.1\r\n\r\n",
      "\n",
      "GET /compte HTTP/1.1\r\nHost: 127.0.0.1:32110\r\nUser-Agent: Tarvo\r\n\r\n",
      "GET / HTTP/1.1\r\nHost: LocalHost\r\n\r\n",
      "GET / HTTP/1.1\r\nhost:localhost.:32110\r\n\r\n",
      "GET / HTTP/1.1\r\nHOST: [::1]:32110 \r\n\r\n",
      "GET / HTTP/1.1\nHost: 127.0.0.1\n\nOrigin: http://body.example",
      "POST / HTTP/1.0\r\nX-Origin: a\r\nOriginal: b\r\nX-Sec-Fetch-Site: c\r\nReferrer: d\r\n\r\n",
  };
  const char* const refused[] = {
      "GET / HTTP/1.1\r\nHost: 127.0.0.1:32110\r\nOrigin: http://evil.example\r\n\r\n",
      "GET / HTTP/1.1\r\norigin: null\r\n\r\n",
      "GET / HTTP/1.1\r\nOrigin : null\r\n\r\n",
      "GET / HTTP/1.1\r\n\tORIGIN\t:null\r\n\r\n",
      "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nReferer: http://evil.example/page\r\n\r\n",
      "GET / HTTP/1.1\r\nsec-fetch-mode: no-cors\r\n\r\n",
      "GET / HTTP/1.1\r\nSEC-FETCH-DEST : image\n\n",
      "GET / HTTP/1.1\r\nHost: rebind.evil.example:32110\r\n\r\n",
      "GET / HTTP/1.1\r\nHost: 127.0.0.1.evil.example\r\n\r\n",
      "GET / HTTP/1.1\r\nHost: localhost:32110x\r\n\r\n",
      "GET / HTTP/1.1\r\nHost: localhost.evil\r\n\r\n",
      "GET / HTTP/1.1\r\nHost:\r\n\r\n",
      "GET / HTTP/1.1\r\nHost: localhost\r\nHost: evil.example\r\n\r\n",
      // Nothing, or a block that has not ended: what is still to come cannot be checked.
      "",
      "x",
      "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n",
      "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r",
  };
  for (const char* request : served) EXPECT_TRUE(allowed(request)) << request;
  for (const char* request : refused) EXPECT_FALSE(allowed(request)) << request;

  // A read that fills the whole buffer before the header block ends leaves unseen headers.
  std::string long_path = "GET /" + std::string(BRIDGE_REQUEST_BYTES, 'a');
  EXPECT_FALSE(allowed(long_path.substr(0, BRIDGE_REQUEST_BYTES)));
  std::string filled = "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n";
  filled += std::string(BRIDGE_REQUEST_BYTES - filled.size(), 'b');
  EXPECT_TRUE(allowed(filled)) << "the header block ended within the read";
}

TEST_F(AccountBridge, WithNothingQueuedEveryRequestGetsNone) {
  for (const std::string& request :
       {std::string(k_request), std::string("POST /x?y=1 HTTP/1.0\r\n\r\nabc"), std::string("\n")}) {
    EXPECT_EQ(bridge_exchange(request), reply_with("NONE")) << request;
  }
  g_selected_account[0] = L'\0';
  EXPECT_EQ(queue_selected_account(), 1) << "no selection: nothing to queue, the game gets NONE";
  EXPECT_EQ(bridge_exchange(k_request), reply_with("NONE"));
}

TEST_F(AccountBridge, AQueuedAccountIsServedOnceAndItsPasswordWiped) {
  queue(L"joueurA", L"mot de&passe");
  EXPECT_EQ(bridge_exchange(k_request), reply_with("joueurA&mot%20de%26passe"));
  EXPECT_EQ(pending(), 0);
  EXPECT_TRUE(pending_password_is_wiped());
  EXPECT_STREQ(g_pending_login, L"joueurA") << "the login is left as it was";
  EXPECT_EQ(bridge_exchange(k_request), reply_with("NONE"));
}

// A game on a dual-stack socket reaches the bridge through ::ffff:127.0.0.1: its end of the
// connection is listed among the IPv6 connections, where it must be found as this user's.
TEST_F(AccountBridge, AGameOnADualStackSocketIsServed) {
  queue(L"joueurA", L"secret");
  std::string reply = bridge_exchange(k_request, true);
  // Wine 8 lists such a connection among the IPv6 ones without its owning process (0).
  if (running_under_wine() && reply == reply_with("NONE")) GTEST_SKIP() << "Wine's IPv6 table names no process";
  EXPECT_EQ(reply, reply_with("joueurA&secret"));
  EXPECT_EQ(pending(), 0);
  for (const std::string& line : capture.messages()) EXPECT_EQ(line.find("Pont de compte"), std::string::npos) << line;
}

TEST_F(AccountBridge, TwoQueueingsServeOnlyTheSecond) {
  queue(L"premier", L"premier mot de passe");
  queue(L"second\u00e9", L"deux");
  enter_bridge_lock();
  std::wstring left(g_pending_password + 5, g_pending_password + PENDING_UNITS);
  leave_bridge_lock();
  EXPECT_EQ(left, std::wstring(PENDING_UNITS - 5, L'\0')) << "nothing of the first password stays queued";
  EXPECT_EQ(bridge_exchange(k_request), reply_with("second%C3%A9&deux"));
  EXPECT_EQ(bridge_exchange(k_request), reply_with("NONE"));
}

TEST_F(AccountBridge, ALongPasswordIsCutAtATripletBoundaryAndOneOf256UnitsIsRefused) {
  std::wstring password = L"aa" + std::wstring(253, L'\u00e9');  // 255 units: a 510-byte blob
  queue(L"long", password);
  std::string expected = "long&aa";
  for (int i = 0; i < 170; ++i) expected += "%C3%A9";  // two triplets per character
  ASSERT_EQ(expected.size(), 5u + 1022u);
  EXPECT_EQ(bridge_exchange(k_request), reply_with(expected));

  ASSERT_TRUE(put_account(L"tropLong", std::wstring(256, L'p')));  // a 512-byte blob
  copy_text(g_selected_account, ACCOUNT_NAME_UNITS, L"tropLong");
  EXPECT_EQ(queue_selected_account(), 0);
  EXPECT_EQ(pending(), 0);
}

TEST_F(AccountBridge, AnEmptyPasswordIsHandedOverAsStored) {
  queue(L"sansMotDePasse", L"");
  EXPECT_EQ(bridge_exchange(k_request), reply_with("sansMotDePasse&"));
}

TEST_F(AccountBridge, ASilentClientOrAnUnfinishedBlockGetsNoneAtTheTimeOutAndLeavesTheQueue) {
  queue(L"patient", L"pw");
  for (const std::string& sent : {std::string(), std::string("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n")}) {
    intptr_t client = bridge_connect();
    ASSERT_NE(client, -1);
    if (!sent.empty()) {
      ASSERT_TRUE(bridge_send(client, sent));
    }
    EXPECT_EQ(bridge_receive_all(client, 20000), reply_with("NONE")) << sent;
    bridge_close(client);
    EXPECT_EQ(pending(), 1);
  }
  EXPECT_EQ(bridge_exchange(k_request), reply_with("patient&pw")) << "the bridge serves the next connection";
}

TEST_F(AccountBridge, AHeaderBlockArrivingInPiecesIsJudgedWhole) {
  queue(L"morceaux", L"pw");
  auto in_two_segments = [](const std::string& first, const std::string& second) {
    intptr_t client = bridge_connect();
    if (client == -1) return std::string();
    bool sent = bridge_send(client, first);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    sent = sent && bridge_send(client, second);
    std::string reply = sent ? bridge_receive_all(client) : std::string();
    bridge_close(client);
    return reply;
  };
  EXPECT_EQ(in_two_segments("GET / HTTP/1.1\r\nHost: 127.0.0.1:32110\r\n", "Origin: http://evil.example\r\n\r\n"),
            reply_with("NONE"));
  EXPECT_EQ(pending(), 1);
  EXPECT_EQ(in_two_segments("GET / HTTP/1.1\r\n", "Host: 127.0.0.1:32110\r\n\r\n"), reply_with("morceaux&pw"));
}

TEST_F(AccountBridge, RebindingAndBrowserRequestsGetNoneAndLeaveTheQueueAsItWas) {
  queue(L"cible", L"secret");
  const std::string attacks[] = {
      "GET / HTTP/1.1\r\nHost: attacker.example:32110\r\nAccept: */*\r\n\r\n",
      "GET / HTTP/1.1\r\nHost: 127.0.0.1:32110\r\nOrigin: https://attacker.example\r\n\r\n",
      "GET /" + std::string(1500, 'a') + " HTTP/1.1\r\nHost: attacker.example\r\n\r\n",
      // An image or script load from a page: no Origin, but the browser's other headers.
      "GET / HTTP/1.1\r\nHost: 127.0.0.1:32110\r\nSec-Fetch-Site: cross-site\r\nSec-Fetch-Mode: no-cors\r\n"
      "Referer: https://attacker.example/\r\n\r\n",
      "GET / HTTP/1.1\r\nHost: 127.0.0.1:32110\r\nOrigin : https://attacker.example\r\n\r\n",
  };
  for (const std::string& attack : attacks) {
    EXPECT_EQ(bridge_exchange(attack), reply_with("NONE")) << attack.substr(0, 80);
    EXPECT_EQ(pending(), 1);
    EXPECT_FALSE(pending_password_is_wiped());
  }
  EXPECT_EQ(bridge_exchange("GET / HTTP/1.1\r\nHost: LOCALHOST:32110\r\n\r\n"), reply_with("cible&secret"));
}

TEST_F(AccountBridge, AQueuedAccountIsServedWithinItsLifetimeAndWipedOnceItIsOver) {
  auto queued_ago = [](uint64_t ms) {
    enter_bridge_lock();
    g_pending_since = bridge_clock_ms() - ms;
    leave_bridge_lock();
  };
  queue(L"lent", L"pw");
  queued_ago(BRIDGE_QUEUE_LIFETIME_MS - 10000);
  EXPECT_EQ(bridge_exchange(k_request), reply_with("lent&pw"));

  queue(L"lent", L"pw");
  queued_ago(BRIDGE_QUEUE_LIFETIME_MS);
  auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (pending() != 0 && std::chrono::steady_clock::now() < limit) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(bridge_queue_is_empty()) << "wiped by the bridge without any connection";
  EXPECT_EQ(bridge_exchange(k_request), reply_with("NONE"));
}

TEST_F(AccountBridge, TheQueueIsWipedWhenItsAccountIsRemovedOrPlayHasNoAccount) {
  queue(L"Joueur", L"pw");
  ASSERT_TRUE(put_account(L"autre", L"pw2"));
  delete_account(L"autre");
  EXPECT_EQ(pending(), 1) << "another account's removal leaves the queue";
  account_menu menu = {};
  build_account_menu(&menu);
  copy_text(g_selected_account, ACCOUNT_NAME_UNITS, L"JOUEUR");
  run_account_menu_command(nullptr, &menu, IDM_REMOVE_ACCOUNT);
  release_account_menu(&menu);
  EXPECT_TRUE(bridge_queue_is_empty());

  queue(L"second", L"pw");
  g_selected_account[0] = L'\0';
  EXPECT_EQ(queue_selected_account(), 1);
  EXPECT_TRUE(bridge_queue_is_empty());
  EXPECT_EQ(bridge_exchange(k_request), reply_with("NONE"));
}

TEST_F(AccountBridge, ShutdownWipesAPasswordThatWasNeverServed) {
  queue(L"jamais", L"servi");
  EXPECT_FALSE(pending_password_is_wiped());
  auto start = std::chrono::steady_clock::now();
  stop_account_bridge();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
  EXPECT_TRUE(pending_password_is_wiped());
  start_account_bridge();  // for TearDown
}

TEST_F(AccountBridge, ShutdownDoesNotWaitForASilentClient) {
  intptr_t silent = bridge_connect();
  ASSERT_NE(silent, -1);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the bridge is in its read
  auto start = std::chrono::steady_clock::now();
  stop_account_bridge();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  EXPECT_EQ(bridge_receive_all(silent, 5000), "") << "closed without an answer";
  bridge_close(silent);
  start_account_bridge();
}

TEST_F(AccountBridge, WithThePortTakenTheBridgeEndsSilentlyAndPlayStillQueues) {
  stop_account_bridge();
  intptr_t holder = bridge_hold_port();
  ASSERT_NE(holder, -1);
  account_bridge_worker();  // returns at once: the port is taken
  start_account_bridge();
  queue(L"joueur", L"pw");
  EXPECT_EQ(pending(), 1);
  intptr_t client = bridge_connect();
  ASSERT_NE(client, -1);
  EXPECT_TRUE(bridge_accept_one(holder, 5000)) << "the port's owner, not the bridge, gets the connection";
  bridge_close(client);
  bridge_close(holder);
  stop_account_bridge();
  EXPECT_TRUE(pending_password_is_wiped());
  start_account_bridge();
}

#ifndef _WIN32
// The bridge serves processes of this user only: a client that has become another user (uid
// 65534, which needs root) gets "NONE" and the queue stays for the game.
namespace {
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
#endif  // !_WIN32
