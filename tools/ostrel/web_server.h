// A small HTTP/1.1 server for `ostrel web`: routes, server-sent event streams, and the guards
// every request passes. Built on Boost.Beast (header-only) with synchronous sockets.
//
// Threads: start() runs one accepting thread; every connection gets a thread of its own that
// reads its requests and calls the route's handler, so handlers run concurrently (each must be
// safe to call from several threads at once). reap() is called by the owner's thread every few
// hundred milliseconds: it ends the connections that passed their deadline and joins the threads
// of finished ones. stop() ends everything and joins every thread. Not copyable.
//
// Guards, in this order, before any handler runs:
//   - at most `maxConnections` connections at once (one more is answered 503 and closed);
//   - a request's header at most 8 KiB and its body at most 64 KiB (else 431 or 413), and read
//     within 15 s; a malformed request is answered 400 and its connection closed;
//   - the Host header must name the address the server listens on (a loopback listener answers
//     as localhost and 127.0.0.1 too): another name is refused 421, which keeps a page of a
//     foreign site that rebinds its name to 127.0.0.1 out;
//   - a request that carries an Origin must come from the server's own origin (http://HOST), else
//     403: no cross-site writes and no foreign page reading the streams;
//   - a route marked `writes` is refused 403 unless the server allows writes.
// A stream whose client stopped reading is ended once a write has waited 10 s; one whose client
// left is ended at its next send (SIGPIPE is never raised: sockets send with MSG_NOSIGNAL).
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tool::web {

struct Request {
  std::string method;
  std::string path;                           // without the query
  std::map<std::string, std::string> query;   // decoded; a form body's fields are added here too
  std::string body;
};

struct Response {
  int status = 200;
  std::string type = "application/json";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // extra headers
};

// A JSON error answer: {"error": TEXT}.
Response errorResponse(int status, const std::string& text);

// What a stream handler writes to: events go out as they are sent.
class Stream {
 public:
  virtual ~Stream() = default;
  // Sends one event (`data` is one line of JSON); false once the client left, stopped reading,
  // or the server stops: the handler then returns.
  virtual bool send(const std::string& data) = 0;
  // Waits `ms` milliseconds; false as soon as the client left or the server stops. Without a
  // send for 10 s it sends a comment line, which finds a client that went away.
  virtual bool pause(int ms) = 0;
};

struct Route {
  std::string method;  // "GET" or "POST"
  std::string path;    // exact
  bool writes = false;
  std::function<Response(const Request&)> answer;             // one of the two
  std::function<void(const Request&, Stream&)> stream;
};

// A static file: its media type and bytes (the page's files are built into the program).
struct StaticFile {
  const char* type;
  const unsigned char* bytes;
  std::size_t size;
};

struct Options {
  std::string host = "127.0.0.1";
  int port = 8080;  // 0: any free port (see boundPort)
  bool allowWrites = false;
  int maxConnections = 64;
};

class Server {
 public:
  Server(Options options, std::vector<Route> routes, std::map<std::string, StaticFile> files);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and starts accepting; false with `error` when the address cannot be used.
  bool start(std::string& error);
  int boundPort() const { return port_; }
  // Ends connections past their deadline and joins finished connection threads.
  void reap();
  void stop();

  // The answer to one parsed request, guards included (no streams): used by the connection
  // threads, and by tests of the routing.
  struct Incoming {
    Request request;
    std::string host;    // the Host header
    std::string origin;  // the Origin header, "" when absent
  };
  // 0 when `in` may go to its route (`route` set, or `file` for a static file), else the status
  // of the refusal with its text in `why`.
  int admit(const Incoming& in, const Route*& route, const StaticFile*& file, std::string& why) const;

 private:
  struct Connection;
  void acceptLoop();
  // Makes the accepting thread's blocked accept return (stop()).
  void wakeAcceptor();
  void serve(std::shared_ptr<Connection> connection);

  const Options options_;
  const std::vector<Route> routes_;
  const std::map<std::string, StaticFile> files_;
  std::vector<std::string> hosts_;  // the Host values this server answers to
  int port_ = 0;
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  std::mutex mutex_;
  std::vector<std::shared_ptr<Connection>> connections_;  // GUARDED_BY(mutex_)
};

// The page's files, built into the program (generated from tools/ostrel/web/ by embed.cmake).
std::map<std::string, StaticFile> pageFiles();

// Percent-decoding of a URL component ('+' is a space); malformed escapes stay as they are.
std::string urlDecode(const std::string& text);
// "a=1&b=2" into `into`.
void parseForm(const std::string& text, std::map<std::string, std::string>& into);

}  // namespace tool::web
