// ostrel web over raw HTTP: what the server refuses (unknown paths, malformed and oversized
// requests, a foreign Origin or Host, writes without --allow-writes) and that clients leaving
// mid-stream neither crash nor stall it. The process serves its embedded server.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/tool_runner.h"

namespace {

// One `ostrel web --listen 127.0.0.1:0 ARGS` process; its port is read from its first line.
class WebProcess {
 public:
  explicit WebProcess(const std::vector<std::string>& extra) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      unsetenv("TARN_SETTINGS");
      unsetenv("TARN_ADDRESS");
      std::vector<std::string> words = {OSTREL_TOOL_PATH, "web", "--listen", "127.0.0.1:0"};
      words.insert(words.end(), extra.begin(), extra.end());
      std::vector<char*> argv;
      for (std::string& word : words) argv.push_back(word.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    std::string line;
    char c;
    while (line.find('\n') == std::string::npos && read(out[0], &c, 1) == 1) line += c;
    close(out[0]);
    const std::size_t at = line.find("127.0.0.1:");
    if (at != std::string::npos) port = std::stoi(line.substr(at + 10));
  }
  ~WebProcess() {
    if (pid_ > 0 && !ended_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  WebProcess(const WebProcess&) = delete;
  WebProcess& operator=(const WebProcess&) = delete;

  bool alive() { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
  // SIGINT, then the exit status within `limit` (-1 when it did not end by then).
  int interrupt(std::chrono::milliseconds limit) {
    kill(pid_, SIGINT);
    const auto until = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < until) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        ended_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }
  std::string host() const { return "127.0.0.1:" + std::to_string(port); }

  int port = 0;

 private:
  pid_t pid_ = -1;
  bool ended_ = false;
};

int connectTo(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval wait{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Sends `request` and reads until the server closes (or 5 s pass): the whole answer.
std::string roundTrip(int port, const std::string& request) {
  const int fd = connectTo(port);
  if (fd < 0) return "(no connection)";
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string answer;
  char buffer[4096];
  for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<std::size_t>(n));
  close(fd);
  return answer;
}

std::string get(const WebProcess& web, const std::string& target, const std::string& headers = "") {
  return roundTrip(web.port, "GET " + target + " HTTP/1.1\r\nHost: " + web.host() + "\r\n" + headers +
                                "Connection: close\r\n\r\n");
}

std::string post(const WebProcess& web, const std::string& target, const std::string& body, const std::string& origin) {
  return roundTrip(web.port, "POST " + target + " HTTP/1.1\r\nHost: " + web.host() + "\r\nOrigin: " + origin +
                                "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
}

std::string statusLine(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }

TEST(WebTool, RefusesWhatItShouldAndServesThePage) {
  WebProcess web({});
  WebProcess historyOff({"--history", "0"});
  ASSERT_GT(web.port, 0);
  ASSERT_GT(historyOff.port, 0);
  const std::string own = "http://" + web.host();
  struct Case {
    std::string what;
    std::string answer;
    std::string status;
    std::string text;
  };
  const std::string longHeader = "X-Long: " + std::string(9000, 'a') + "\r\n";
  const std::vector<Case> cases = {
      {"the page", get(web, "/"), "HTTP/1.1 200", "<title>ostrel web</title>"},
      {"its script", get(web, "/app.js"), "HTTP/1.1 200", "text/javascript"},
      {"info", get(web, "/api/info"), "HTTP/1.1 200", "\"writes\": false"},
      {"own origin", get(web, "/api/info", "Origin: " + own + "\r\n"), "HTTP/1.1 200", "\"writes\""},
      {"unknown path", get(web, "/nope"), "HTTP/1.1 404", "no such page"},
      {"a path out of the folder", get(web, "/../../etc/passwd"), "HTTP/1.1 404", "no such page"},
      {"an escaped one", get(web, "/%2e%2e/%2e%2e/etc/passwd"), "HTTP/1.1 404", "no such page"},
      {"a target that is no path", get(web, "http://elsewhere/api/info"), "HTTP/1.1 400", "must be a path"},
      {"wrong method", roundTrip(web.port, "DELETE /api/info HTTP/1.1\r\nHost: " + web.host() + "\r\nConnection: close\r\n\r\n"),
       "HTTP/1.1 405", "not allowed"},
      {"malformed request", roundTrip(web.port, "HELLO THERE\r\n\r\n"), "HTTP/1.1 400", "malformed"},
      {"header too long", get(web, "/api/info", longHeader), "HTTP/1.1 431", "malformed"},
      {"body too long",
       roundTrip(web.port, "POST /api/put HTTP/1.1\r\nHost: " + web.host() + "\r\nContent-Length: 1000000\r\n\r\n"),
       "HTTP/1.1 413", "malformed"},
      {"foreign origin reading", get(web, "/api/info", "Origin: http://elsewhere.example\r\n"), "HTTP/1.1 403",
       "refused"},
      {"foreign origin streaming", get(web, "/api/stream/servers", "Origin: http://127.0.0.1:1\r\n"), "HTTP/1.1 403",
       "refused"},
      {"foreign origin writing", post(web, "/api/put", "name=p&path=value&value=1", "http://elsewhere.example"),
       "HTTP/1.1 403", "refused"},
      {"a foreign host name (rebinding)",
       roundTrip(web.port, "GET /api/info HTTP/1.1\r\nHost: elsewhere.example\r\nConnection: close\r\n\r\n"),
       "HTTP/1.1 421", "answers as"},
      {"write without --allow-writes", post(web, "/api/put", "name=p&path=value&value=1", own), "HTTP/1.1 403",
       "--allow-writes"},
      {"snapshot without --allow-writes", post(web, "/api/snapshots", "name=s", own), "HTTP/1.1 403", "--allow-writes"},
      {"taking a box's events without --allow-writes", get(web, "/api/stream/monitor-take?box=b"), "HTTP/1.1 403",
       "--allow-writes"},
      {"info tells the history's bound", get(web, "/api/info"), "HTTP/1.1 200", "\"budget\": 67108864,"},
      {"a history of no point", get(web, "/api/history"), "HTTP/1.1 400", "needs a point"},
      {"a history not kept", get(web, "/api/history?point=no.such"), "HTTP/1.1 200", "\"kept\": false"},
      {"a history of another realm", get(web, "/api/history?point=p&realm=north"), "HTTP/1.1 200",
       "kept for realm (default) only"},
      {"a history turned off", get(historyOff, "/api/history?point=p"), "HTTP/1.1 200", "the history is off"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(statusLine(c.answer).substr(0, 12), c.status) << c.what << ": " << c.answer.substr(0, 300);
    EXPECT_NE(c.answer.find(c.text), std::string::npos) << c.what << ": " << c.answer.substr(0, 300);
  }
  EXPECT_TRUE(web.alive());
}

TEST(WebTool, WritesWithAllowWritesReachTheServerAndReportItsCode) {
  WebProcess web({"--allow-writes"});
  ASSERT_GT(web.port, 0);
  const std::string own = "http://" + web.host();
  const std::string answer = post(web, "/api/put", "name=no.such.point&path=value&value=1", own);
  EXPECT_EQ(statusLine(answer), "HTTP/1.1 200 OK") << answer;
  EXPECT_NE(answer.find("\"code\": 2"), std::string::npos) << answer;  // the server's refusal, with its code
  EXPECT_NE(get(web, "/api/info").find("\"writes\": true"), std::string::npos);
  const std::string made = post(web, "/api/snapshots", "name=first", own);
  EXPECT_NE(made.find("\"code\": 0"), std::string::npos) << made;
  EXPECT_NE(get(web, "/api/snapshots").find("\"first\""), std::string::npos);
}

TEST(WebTool, ClientsThatLeaveMidStreamNeitherCrashNorStallIt) {
  WebProcess web({"--period", "50"});
  ASSERT_GT(web.port, 0);
  const std::vector<std::string> streams = {"/api/stream/servers", "/api/stream/points?pattern=*", "/api/stream/point?name=x",
                                            "/api/stream/channels", "/api/stream/contenders",
                                            "/api/stream/monitor?box=no.such.box"};
  for (int round = 0; round < 5; ++round) {
    std::vector<int> open;
    for (const std::string& target : streams) {
      const int fd = connectTo(web.port);
      ASSERT_GE(fd, 0);
      const std::string request = "GET " + target + " HTTP/1.1\r\nHost: " + web.host() + "\r\n\r\n";
      send(fd, request.data(), request.size(), MSG_NOSIGNAL);
      char buffer[512];
      ASSERT_GT(recv(fd, buffer, sizeof buffer, 0), 0) << target;  // the stream began
      open.push_back(fd);
    }
    // Half of them vanish at once (a reset), the other half close normally; and one leaves
    // half-way through its request.
    for (std::size_t i = 0; i < open.size(); ++i) {
      if (i % 2 == 0) {
        linger abort{1, 0};
        setsockopt(open[i], SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
      }
      close(open[i]);
    }
    const int partial = connectTo(web.port);
    const std::string half = "GET /api/stream/servers HTTP/1.1\r\nHo";
    send(partial, half.data(), half.size(), MSG_NOSIGNAL);
    close(partial);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the streams try to write to the closed sockets
  EXPECT_TRUE(web.alive());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(statusLine(get(web, "/api/info")), "HTTP/1.1 200 OK");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "the server stalled";

  // Ctrl-C ends it promptly even with a client still streaming.
  const int streaming = connectTo(web.port);
  const std::string request = "GET /api/stream/servers HTTP/1.1\r\nHost: " + web.host() + "\r\n\r\n";
  send(streaming, request.data(), request.size(), MSG_NOSIGNAL);
  char buffer[256];
  EXPECT_GT(recv(streaming, buffer, sizeof buffer, 0), 0);
  EXPECT_EQ(web.interrupt(std::chrono::seconds(5)), 0);
  close(streaming);
}

TEST(WebTool, StreamsSendTheirFirstEventAtOnceWithTheQueryDecoded) {
  WebProcess web({});
  ASSERT_GT(web.port, 0);
  const int fd = connectTo(web.port);
  ASSERT_GE(fd, 0);
  const std::string request =
      "GET /api/stream/point?name=no%2Bsuch+point%21&realm= HTTP/1.1\r\nHost: " + web.host() + "\r\n\r\n";
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string answer;
  char buffer[1024];
  while (answer.find("\n\n", answer.find("\r\n\r\n") + 4) == std::string::npos) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    answer.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  EXPECT_NE(answer.find("Content-Type: text/event-stream"), std::string::npos) << answer;
  EXPECT_NE(answer.find("data: {\"name\": \"no+such point!\""), std::string::npos) << answer;
  EXPECT_EQ(answer.find("\"code\": 0,"), std::string::npos) << "no such point, so a code: " << answer;
}

TEST(WebTool, UsageErrors) {
  testing_support::expectRuns({{"web --listen nowhere", 2, {"--listen takes HOST:PORT"}},
                               {"web --listen 127.0.0.1:99999", 2, {"--listen takes HOST:PORT"}},
                               {"web --listen 127.0.0.1:", 2, {"--listen takes HOST:PORT"}},
                               {"web --listen 192.0.2.1:0", 1, {"cannot listen on 192.0.2.1:0"}},
                               {"web --period 1", 2, {"--period"}},
                               {"web --history -1", 2, {"--history"}},
                               {"web --history-mb -5", 2, {"--history-mb"}},
                               {"help web", 0, {"--allow-writes", "own address", "--history-mb"}}},
                              "env -u TARN_SETTINGS -u TARN_ADDRESS");
}

}  // namespace
