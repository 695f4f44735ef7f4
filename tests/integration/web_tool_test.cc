// ostrel web over raw HTTP: what the server refuses (unknown paths, malformed and oversized
// requests, a foreign Origin or Host, writes without --allow-writes) and that clients leaving
// mid-stream neither crash nor stall it, on its embedded server; and a plant of the settings seen
// live through it.
#if defined(_WIN32)
#  include <winsock2.h>
#else
#  include <arpa/inet.h>
#  include <netinet/in.h>
#  include <sys/socket.h>
#  include <unistd.h>
#endif

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/tarn_fixture.h"
#include "tests/support/tool_runner.h"
// The server of `ostrel web` on its own, compiled into this test (with the JSON text it uses).
#include "tools/ostrel/records.cc"
#include "tools/ostrel/web_server.cc"

namespace {

// Loopback client sockets, alike on Linux and Windows.
#if defined(_WIN32)
using Socket = SOCKET;
const Socket kNoSocket = INVALID_SOCKET;
void closeSocket(Socket fd) { ::closesocket(fd); }
constexpr int kNoSignal = 0;  // a write to a closed connection raises no signal there
#else
using Socket = int;
const Socket kNoSocket = -1;
void closeSocket(Socket fd) { ::close(fd); }
constexpr int kNoSignal = MSG_NOSIGNAL;
#endif

// One `ostrel web --listen 127.0.0.1:0 ARGS` process; its port is read from the line it prints.
class WebProcess {
 public:
  explicit WebProcess(const std::string& args, const std::string& env = testing_support::kEmbeddedServer)
      : tool_("web --listen 127.0.0.1:0 " + args, env) {
    if (!tool_.waitFor("Ctrl-C ends", std::chrono::seconds(30))) return;
    const std::string output = tool_.output();
    const std::size_t at = output.find("http://127.0.0.1:");
    if (at != std::string::npos) port = std::stoi(output.substr(at + 17));
  }

  bool alive() { return tool_.running(); }
  testing_support::ToolProcess& tool() { return tool_; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port); }

  int port = 0;

 private:
  testing_support::ToolProcess tool_;
};

// A connection to 127.0.0.1:port whose reads give up after 5 s; kNoSocket when there is none.
Socket connectTo(int port) {
  const Socket fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
#if defined(_WIN32)
  const DWORD wait = 5000;
#else
  const timeval wait{5, 0};
#endif
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    closeSocket(fd);
    return kNoSocket;
  }
  return fd;
}

void sendText(Socket fd, const std::string& text) { send(fd, text.data(), static_cast<int>(text.size()), kNoSignal); }

// What one read takes: the bytes count, 0 at the end, less on an error or after 5 s.
int receive(Socket fd, char* buffer, int size) { return static_cast<int>(recv(fd, buffer, size, 0)); }

// Reads into `answer` until it holds `text` from `from` on (true), or the connection ended or
// stayed quiet for 5 s (false).
bool receiveUntil(Socket fd, std::string& answer, const std::string& text, std::size_t from = 0) {
  char buffer[4096];
  while (answer.find(text, from) == std::string::npos) {
    const int n = receive(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    answer.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

// Sends `request` and reads until the server closes (or 5 s pass): the whole answer.
std::string roundTrip(int port, const std::string& request) {
  const Socket fd = connectTo(port);
  if (fd == kNoSocket) return "(no connection)";
  sendText(fd, request);
  std::string answer;
  char buffer[4096];
  for (int n; (n = receive(fd, buffer, sizeof buffer)) > 0;) answer.append(buffer, static_cast<std::size_t>(n));
  closeSocket(fd);
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
  WebProcess web("");
  WebProcess historyOff("--history 0");
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
  WebProcess web("--allow-writes");
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

// On a tarnd of the settings, so that the streams make remote calls while their clients go.
TEST(WebTool, ClientsThatLeaveMidStreamNeitherCrashNorStallIt) {
  testing_support::TarndProcess server("plant", testing_support::freePort());
  ASSERT_TRUE(server.start());
  testing_support::ScopedSettings settings({{"plant", "own", {server.address()}}});
  WebProcess web("--period 50", "TARN_ADDRESS=");
  ASSERT_GT(web.port, 0) << web.tool().output();
  const std::vector<std::string> streams = {"/api/stream/servers", "/api/stream/points?pattern=*", "/api/stream/point?name=x",
                                            "/api/stream/channels", "/api/stream/contenders",
                                            "/api/stream/monitor?box=no.such.box"};
  for (int round = 0; round < 5; ++round) {
    std::vector<Socket> open;
    for (const std::string& target : streams) {
      const Socket fd = connectTo(web.port);
      ASSERT_NE(fd, kNoSocket);
      sendText(fd, "GET " + target + " HTTP/1.1\r\nHost: " + web.host() + "\r\n\r\n");
      char buffer[512];
      ASSERT_GT(receive(fd, buffer, sizeof buffer), 0) << target;  // the stream began
      open.push_back(fd);
    }
    // Half of them vanish at once (a reset), the other half close normally; and one leaves
    // half-way through its request.
    for (std::size_t i = 0; i < open.size(); ++i) {
      if (i % 2 == 0) {
        const linger abort{1, 0};
        setsockopt(open[i], SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
      }
      closeSocket(open[i]);
    }
    const Socket partial = connectTo(web.port);
    sendText(partial, "GET /api/stream/servers HTTP/1.1\r\nHo");
    closeSocket(partial);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the streams try to write to the closed sockets
  EXPECT_TRUE(web.alive());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(statusLine(get(web, "/api/info")), "HTTP/1.1 200 OK");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "the server stalled";
}

#if !defined(_WIN32)
// Ctrl-C ends it promptly even with a client still streaming. (Ctrl-C is a signal: Linux only.)
TEST(WebTool, CtrlCEndsItWithAClientStreaming) {
  WebProcess web("--period 50");
  ASSERT_GT(web.port, 0);
  const Socket streaming = connectTo(web.port);
  sendText(streaming, "GET /api/stream/servers HTTP/1.1\r\nHost: " + web.host() + "\r\n\r\n");
  char buffer[256];
  EXPECT_GT(receive(streaming, buffer, sizeof buffer), 0);
  EXPECT_EQ(web.tool().interrupt(std::chrono::seconds(5)), 0);
  closeSocket(streaming);
}
#endif

TEST(WebTool, StreamsSendTheirFirstEventAtOnceWithTheQueryDecoded) {
  WebProcess web("");
  ASSERT_GT(web.port, 0);
  const Socket fd = connectTo(web.port);
  ASSERT_NE(fd, kNoSocket);
  sendText(fd, "GET /api/stream/point?name=no%2Bsuch+point%21&realm= HTTP/1.1\r\nHost: " + web.host() + "\r\n\r\n");
  std::string answer;
  if (receiveUntil(fd, answer, "\r\n\r\n")) receiveUntil(fd, answer, "\n\n", answer.find("\r\n\r\n") + 4);
  closeSocket(fd);
  EXPECT_NE(answer.find("Content-Type: text/event-stream"), std::string::npos) << answer;
  EXPECT_NE(answer.find("data: {\"name\": \"no+such point!\""), std::string::npos) << answer;
  EXPECT_EQ(answer.find("\"code\": 0,"), std::string::npos) << "no such point, so a code: " << answer;
}

// None of these reaches a server.
TEST(WebTool, UsageErrors) {
  testing_support::expectRuns({{"web --listen nowhere", 2, {"--listen takes HOST:PORT"}},
                               {"web --listen 127.0.0.1:99999", 2, {"--listen takes HOST:PORT"}},
                               {"web --listen 127.0.0.1:", 2, {"--listen takes HOST:PORT"}},
                               {"web --period 1", 2, {"--period"}},
                               {"web --history -1", 2, {"--history"}},
                               {"web --history-mb -5", 2, {"--history-mb"}},
                               {"help web", 0, {"--allow-writes", "own address", "--history-mb"}}},
                              testing_support::kEmbeddedServer);
}

// A tarnd named in the settings, served live: the page, the realms, a point's value in the points
// stream and its change; an address the host does not have is refused once the server answered.
TEST(WebTool, ShowsAPlantOfTheSettingsAsItChanges) {
  testing_support::TarndProcess server("plant", testing_support::freePort());
  ASSERT_TRUE(server.start());
  testing_support::ScopedSettings settings({{"plant", "own", {server.address()}}});
  testing_support::expectRuns({{"create tank.a AnalogPoint value=1.5", 0, {}},
                               {"web --listen 192.0.2.1:0", 1, {"cannot listen on 192.0.2.1:0"}}});
  WebProcess web("--period 100", "TARN_ADDRESS=");
  ASSERT_GT(web.port, 0) << web.tool().output();
  const std::string page = get(web, "/");
  EXPECT_EQ(statusLine(page), "HTTP/1.1 200 OK") << page.substr(0, 300);
  EXPECT_NE(page.find("<title>ostrel web</title>"), std::string::npos) << page.substr(0, 300);
  const std::string realms = get(web, "/api/realms");
  EXPECT_EQ(statusLine(realms), "HTTP/1.1 200 OK") << realms;
  EXPECT_NE(realms.find("application/json"), std::string::npos) << realms;

  const Socket fd = connectTo(web.port);
  ASSERT_NE(fd, kNoSocket);
  sendText(fd, "GET /api/stream/points?pattern=tank HTTP/1.1\r\nHost: " + web.host() + "\r\n\r\n");
  std::string stream;
  EXPECT_TRUE(receiveUntil(fd, stream, "\"type\": \"double\", \"value\": 1.5}")) << stream;
  const std::size_t seen = stream.size();
  testing_support::expectRuns({{"put tank.a value=2.5", 0, {}}});
  EXPECT_TRUE(receiveUntil(fd, stream, "\"type\": \"double\", \"value\": 2.5}", seen)) << stream;
  closeSocket(fd);
  web.tool().kill();
  EXPECT_FALSE(web.alive());
}

// stop() ends at once a stream that is still open, a connection blocked reading its next request
// and the thread that accepts; the client sees its stream end.
TEST(WebServer, StopEndsStreamsReadsAndTheAcceptAtOnce) {
  tool::web::Route endless{"GET", "/stream", false, nullptr, [](const tool::web::Request&, tool::web::Stream& stream) {
                             while (stream.send("{}") && stream.pause(50)) {
                             }
                           }};
  tool::web::Server server(tool::web::Options{"127.0.0.1", 0, false, 4}, {endless}, {});
  std::string error;
  ASSERT_TRUE(server.start(error)) << error;
  const Socket fd = connectTo(server.boundPort());
  ASSERT_NE(fd, kNoSocket);
  sendText(fd, "GET /stream HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.boundPort()) + "\r\n\r\n");
  std::string answer;
  ASSERT_TRUE(receiveUntil(fd, answer, "data: {}\n\ndata: {}\n\n")) << answer;
  const Socket idle = connectTo(server.boundPort());
  ASSERT_NE(idle, kNoSocket);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // its thread waits for a request
  const auto start = std::chrono::steady_clock::now();
  server.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  char buffer[4096];
  int n = 0;
  while ((n = receive(fd, buffer, sizeof buffer)) > 0) {
  }
  EXPECT_EQ(0, n) << "the stream ended, not timed out";
  closeSocket(fd);
  closeSocket(idle);
}

}  // namespace
