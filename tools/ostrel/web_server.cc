// The HTTP server of `ostrel web` (see web_server.h). Blocking sockets underneath, on POSIX and
// Windows alike: a connection is ended from another thread by a shutdown that wakes a read or
// write blocked on it (shutdownFromAnyThread).
#include "tools/ostrel/web_server.h"

#if !defined(_WIN32)
#  include <sys/socket.h>
#endif

#include <algorithm>
#include <chrono>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include "tools/ostrel/records.h"

namespace tool::web {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr int kReadMs = 15000;        // to receive a whole request
constexpr int kWriteMs = 10000;       // for one write to be taken by a client
constexpr int kQuietMs = 10000;       // a stream's longest silence
constexpr std::size_t kHeaderLimit = 8 * 1024;
constexpr std::size_t kBodyLimit = 64 * 1024;

long long nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Shuts both directions of `socket` down from any thread, so that a read or write blocked on it
// returns. On Windows a shutdown does not wake a blocked call: the socket's I/O is cancelled too.
void shutdownFromAnyThread(tcp::socket::native_handle_type socket) {
#if defined(_WIN32)
  ::shutdown(socket, SD_BOTH);
  ::CancelIoEx(reinterpret_cast<HANDLE>(static_cast<SOCKET>(socket)), nullptr);
#else
  ::shutdown(socket, SHUT_RDWR);
#endif
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string urlDecode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 && hexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

void parseForm(const std::string& text, std::map<std::string, std::string>& into) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('&', start);
    if (end == std::string::npos) end = text.size();
    const std::string pair = text.substr(start, end - start);
    const std::size_t equals = pair.find('=');
    if (!pair.empty()) {
      into[urlDecode(pair.substr(0, equals))] = equals == std::string::npos ? "" : urlDecode(pair.substr(equals + 1));
    }
    start = end + 1;
  }
}

Response errorResponse(int status, const std::string& text) {
  return Response{status, "application/json", "{\"error\": " + jsonString(text) + "}\n", {}};
}

struct Server::Connection {
  explicit Connection(tcp::socket s) : socket(std::move(s)) {}
  tcp::socket socket;
  std::thread thread;
  std::atomic<long long> deadline{0};  // steady ms; 0 none
  std::atomic<bool> done{false};
  void expireIn(int ms) { deadline = ms ? nowMs() + ms : 0; }
  // From another thread: wakes a read or write blocked on the socket.
  void end() {
    std::lock_guard<std::mutex> hold(mutex);
    if (socket.is_open()) shutdownFromAnyThread(socket.native_handle());
  }
  // From the connection's own thread when it is done: the client sees the end at once.
  void close() {
    std::lock_guard<std::mutex> hold(mutex);
    boost::system::error_code ec;
    socket.shutdown(tcp::socket::shutdown_send, ec);
    socket.close(ec);
  }
  std::mutex mutex;  // guards closing the socket against end()
};

struct Server::Impl {
  asio::io_context io;
  tcp::acceptor acceptor{io};
};

Server::Server(Options options, std::vector<Route> routes, std::map<std::string, StaticFile> files)
    : options_(std::move(options)), routes_(std::move(routes)), files_(std::move(files)), impl_(new Impl) {}

Server::~Server() { stop(); }

bool Server::start(std::string& error) {
  boost::system::error_code ec;
  const asio::ip::address address = asio::ip::make_address(options_.host, ec);
  if (ec) {
    error = "'" + options_.host + "' is not an IP address";
    return false;
  }
  const tcp::endpoint endpoint(address, static_cast<unsigned short>(options_.port));
  impl_->acceptor.open(endpoint.protocol(), ec);
  if (!ec) impl_->acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) impl_->acceptor.bind(endpoint, ec);
  if (!ec) impl_->acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    error = "cannot listen on " + options_.host + ":" + std::to_string(options_.port) + ": " + ec.message();
    return false;
  }
  port_ = impl_->acceptor.local_endpoint().port();
  const std::string port = ":" + std::to_string(port_);
  // A listener on every interface has no one name: the Origin is then held to the Host given.
  if (!address.is_unspecified()) {
    const std::string shown = address.is_v6() ? "[" + options_.host + "]" : options_.host;
    hosts_.push_back(lower(shown) + port);
    if (address.is_loopback()) {
      hosts_.push_back("localhost" + port);
      hosts_.push_back("127.0.0.1" + port);
    }
  }
  acceptor_ = std::thread([this] { acceptLoop(); });
  return true;
}

void Server::acceptLoop() {
  while (!stopping_) {
    tcp::socket socket(impl_->io);
    boost::system::error_code ec;
    impl_->acceptor.accept(socket, ec);
    if (stopping_) break;
    if (ec) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));  // out of descriptors: let some close
      continue;
    }
    std::lock_guard<std::mutex> hold(mutex_);
    int live = 0;
    for (const auto& c : connections_) live += c->done ? 0 : 1;
    if (live >= options_.maxConnections) {
      static const std::string busy =
          "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\nRetry-After: 1\r\n\r\n";
      socket.non_blocking(true, ec);  // whatever the client does, this thread does not wait for it
      socket.send(asio::buffer(busy), 0, ec);
      continue;
    }
    auto connection = std::make_shared<Connection>(std::move(socket));
    connection->thread = std::thread([this, connection] {
      try {
        serve(connection);
      } catch (const std::exception&) {
        // A handler that failed unexpectedly ends its connection, never the process.
      }
      connection->close();
      connection->done = true;
    });
    connections_.push_back(std::move(connection));
  }
}

void Server::reap() {
  std::vector<std::shared_ptr<Connection>> finished;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    const long long now = nowMs();
    for (auto it = connections_.begin(); it != connections_.end();) {
      Connection& c = **it;
      const long long deadline = c.deadline;
      if (!c.done && deadline != 0 && now > deadline) c.end();
      if (c.done) {
        finished.push_back(*it);
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& c : finished) c->thread.join();
}

void Server::stop() {
  if (stopping_.exchange(true)) return;
  if (acceptor_.joinable()) {
    wakeAcceptor();
    acceptor_.join();
  }
  boost::system::error_code ec;
  impl_->acceptor.close(ec);
  std::vector<std::shared_ptr<Connection>> all;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    all.swap(connections_);
  }
  for (auto& c : all) c->end();
  for (auto& c : all) c->thread.join();
}

void Server::wakeAcceptor() {
#if defined(_WIN32)
  // A listening socket cannot be shut down there: a connection of its own ends the accept.
  boost::system::error_code ec;
  tcp::endpoint self = impl_->acceptor.local_endpoint(ec);
  if (self.address().is_unspecified())
    self.address(self.address().is_v6() ? asio::ip::address(asio::ip::address_v6::loopback())
                                          : asio::ip::address(asio::ip::address_v4::loopback()));
  tcp::socket wake(impl_->io);
  if (!ec) wake.connect(self, ec);
#else
  shutdownFromAnyThread(impl_->acceptor.native_handle());
#endif
}

int Server::admit(const Incoming& in, const Route*& route, const StaticFile*& file, std::string& why) const {
  route = nullptr;
  file = nullptr;
  const std::string host = lower(in.host);
  if (!hosts_.empty() && std::find(hosts_.begin(), hosts_.end(), host) == hosts_.end()) {
    why = "this server answers as " + hosts_.front() + ", not as '" + in.host + "'";
    return 421;
  }
  if (!in.origin.empty() && (host.empty() || lower(in.origin) != "http://" + host)) {
    why = "requests from " + in.origin + " are refused: only this server's own page may call it";
    return 403;
  }
  bool pathKnown = false;
  for (const Route& r : routes_) {
    if (r.path != in.request.path) continue;
    pathKnown = true;
    if (r.method == in.request.method) route = &r;
  }
  if (route == nullptr && in.request.method == "GET") {
    auto found = files_.find(in.request.path == "/" ? "/index.html" : in.request.path);
    if (found != files_.end()) {
      file = &found->second;
      return 0;
    }
  }
  if (route == nullptr) {
    why = pathKnown ? "method " + in.request.method + " is not allowed here" : "no such page: " + in.request.path;
    return pathKnown ? 405 : 404;
  }
  if (route->writes && !options_.allowWrites) {
    why = "writes are off: start `ostrel web` with --allow-writes to change the plant from the page";
    return 403;
  }
  return 0;
}

namespace {

class SocketStream : public Stream {
 public:
  SocketStream(tcp::socket& socket, std::atomic<long long>& deadline, const std::atomic<bool>& stopping)
      : socket_(socket), deadline_(deadline), stopping_(stopping) {}

  // Each line of `data` is a data line of the event (the client joins them with newlines).
  bool send(const std::string& data) override {
    std::string event = "data: ";
    for (char c : data) event += c == '\n' ? std::string("\ndata: ") : std::string(1, c);
    return write(event + "\n\n");
  }

  bool pause(int ms) override {
    const long long until = nowMs() + ms;
    for (;;) {
      if (stopping_ || gone()) return false;
      if (nowMs() - lastWrite_ >= kQuietMs && !write(": still here\n\n")) return false;
      const long long left = until - nowMs();
      if (left <= 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(left < 50 ? left : 50));
    }
  }

  bool write(const std::string& text) {
    if (stopping_) return false;
    boost::system::error_code ec;
    deadline_ = nowMs() + kWriteMs;
    asio::write(socket_, asio::buffer(text), ec);
    deadline_ = 0;
    lastWrite_ = nowMs();
    return !ec;
  }

 private:
  // The client closed its side (it sends nothing once the stream began): a look at the socket
  // that does not wait finds its end, or an error.
  bool gone() {
    char byte;
    boost::system::error_code ec, ignored;
    socket_.non_blocking(true, ec);
    if (!ec) socket_.receive(asio::buffer(&byte, 1), tcp::socket::message_peek, ec);
    socket_.non_blocking(false, ignored);
    return ec && ec != asio::error::would_block && ec != asio::error::try_again && ec != asio::error::interrupted;
  }
  tcp::socket& socket_;
  std::atomic<long long>& deadline_;
  const std::atomic<bool>& stopping_;
  long long lastWrite_ = nowMs();
};

template <typename Body>
void addCommonHeaders(http::response<Body>& response) {
  response.set(http::field::server, "ostrel");
  response.set(http::field::cache_control, "no-store");
  response.set("X-Content-Type-Options", "nosniff");
  response.set("X-Frame-Options", "DENY");
  response.set("Referrer-Policy", "no-referrer");
  response.set("Content-Security-Policy", "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'");
}

}  // namespace

void Server::serve(std::shared_ptr<Connection> connection) {
  tcp::socket& socket = connection->socket;
  boost::beast::flat_buffer buffer;
  auto answer = [&](const Response& answer, bool keepAlive) {
    http::response<http::string_body> response{static_cast<http::status>(answer.status), 11};
    addCommonHeaders(response);
    response.set(http::field::content_type, answer.type);
    for (const auto& [name, value] : answer.headers) response.set(name, value);
    response.body() = answer.body;
    response.keep_alive(keepAlive);
    response.prepare_payload();
    boost::system::error_code ec;
    connection->expireIn(kWriteMs);
    http::write(socket, response, ec);
    connection->expireIn(0);
    return !ec;
  };
  while (!stopping_) {
    http::request_parser<http::string_body> parser;
    parser.header_limit(kHeaderLimit);
    parser.body_limit(kBodyLimit);
    boost::system::error_code ec;
    connection->expireIn(kReadMs);
    http::read(socket, buffer, parser, ec);
    connection->expireIn(0);
    if (ec) {
      if (ec.category() != http::make_error_code(http::error::end_of_stream).category() ||
          ec == http::error::end_of_stream || ec == http::error::partial_message)
        return;  // the client left (or was ended): nobody to answer
      const int status = ec == http::error::header_limit ? 431 : ec == http::error::body_limit ? 413 : 400;
      answer(errorResponse(status, "malformed request: " + ec.message()), false);
      return;
    }
    const auto& message = parser.get();
    Incoming in;
    in.request.method = std::string(message.method_string());
    const std::string target(message.target());
    if (target.empty() || target[0] != '/') {
      answer(errorResponse(400, "the request target must be a path"), false);
      return;
    }
    const std::size_t mark = target.find('?');
    in.request.path = target.substr(0, mark);
    if (mark != std::string::npos) parseForm(target.substr(mark + 1), in.request.query);
    in.request.body = message.body();
    if (lower(std::string(message[http::field::content_type])).rfind("application/x-www-form-urlencoded", 0) == 0)
      parseForm(in.request.body, in.request.query);
    in.host = std::string(message[http::field::host]);
    in.origin = std::string(message[http::field::origin]);
    const bool keepAlive = message.keep_alive();

    const Route* route = nullptr;
    const StaticFile* file = nullptr;
    std::string why;
    const int refused = admit(in, route, file, why);
    if (refused != 0) {
      if (!answer(errorResponse(refused, why), keepAlive) || !keepAlive) return;
      continue;
    }
    if (file != nullptr) {
      const Response page{200, file->type, std::string(reinterpret_cast<const char*>(file->bytes), file->size), {}};
      if (!answer(page, keepAlive) || !keepAlive) return;
      continue;
    }
    if (route->stream) {
      SocketStream stream(socket, connection->deadline, stopping_);
      if (!stream.write("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-store\r\n"
                        "X-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n"))
        return;
      route->stream(in.request, stream);
      return;
    }
    Response response;
    try {
      response = route->answer(in.request);
    } catch (const std::exception& e) {
      response = errorResponse(500, std::string("the request failed: ") + e.what());
    }
    if (!answer(response, keepAlive) || !keepAlive) return;
  }
}

}  // namespace tool::web
