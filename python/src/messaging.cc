// Event boxes and ports from Python: EventBox (send, receive, iteration, count, clear, delete),
// declare (an event to every box taking its code) and Port (request, receive, reply, serve).
//
// Payloads travel as raw bytes, so the receiving side names the data type it expects (`type=`);
// a request's reply defaults to the request's own type. A payload whose length differs from the
// type's size raises ostrel.Error (2012) instead of handing back a record that reads past it.
// Each object keeps one receive connection, opened on its first receive and closed when it is
// deleted, so receives that time out leave no connection behind on the server.
// Time-outs are seconds (float); None waits without limit.
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/data/record.h"
#include "python/src/binding.h"
#include "tarn/client/codes.h"  // the middleware's codes (header only)

namespace pyostrel {
namespace {

using Text = std::optional<std::string>;

int millis(const std::optional<double>& seconds) {
  if (!seconds || *seconds < 0) return -1;
  const double ms = std::ceil(*seconds * 1000.0);
  return ms > 2e9 ? 2000000000 : static_cast<int>(ms);
}

// A raw payload (an untyped record) as a new Record of `type`, or 2012 when the sizes differ.
std::unique_ptr<BrennicData> typed(BrennicData& raw, const std::string& type) {
  auto record = newRecord<BrennicData>(type);
  const unsigned int size = raw.GetBufferSize();  // untyped: the payload's length
  if (size != record->GetBufferSize() || (size != 0 && raw.GetRawValue() == nullptr))
    raise(OstrelCode::kEventSizeMismatch, "received " + std::to_string(size) + " bytes for the type " + type);
  if (size != 0) std::memcpy(record->GetRawValue(), raw.GetRawValue(), size);
  return record;
}

// The name, target and receive connection shared by boxes and ports. Needs the GIL.
class Channel {
 public:
  Channel(std::string name, Text type, Text server, Text realm)
      : name_(std::move(name)), type_(std::move(type)), server_(std::move(server)), realm_(std::move(realm)) {
    cstr(name_);
  }
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;
  ~Channel() { close(); }

  // Closes the receive connection; the next receive opens a new one.
  void close() {
    const unsigned int handle = handle_;
    handle_ = 0;
    if (handle == 0 || libraryEnded()) return;
    Unlocked unlocked;
    Ostrel::DisConnect(static_cast<int>(handle), s(), r());
  }

  const std::string& name() const { return name_; }
  const Text& type() const { return type_; }
  const char* s() const { return orNull(server_); }
  const char* r() const { return orNull(realm_); }

 protected:
  // The receive connection, opened on first use.
  unsigned int receiver() {
    if (handle_ == 0) {
      unsigned int handle = 0;
      run("connect " + name_, [&] {
        int rc = Ostrel::ConnectPortForRecv(name_.c_str(), handle, s(), r());
        if (rc == tarn::kReceiveRefused) rc = Ostrel::ConnectPortForRecv(name_.c_str(), handle, s(), r());
        return rc;
      });
      if (handle_ != 0) {  // another thread connected meanwhile: keep one connection
        Unlocked unlocked;
        Ostrel::DisConnect(static_cast<int>(handle), s(), r());
      } else {
        handle_ = handle;
      }
    }
    return handle_;
  }
  const std::string& receiveType() const {
    if (!type_) throw py::value_error(name_ + ": give type= to receive (the data type of the payloads)");
    return *type_;
  }

 private:
  std::string name_;
  Text type_, server_, realm_;
  unsigned int handle_ = 0;
};

// Creates the box or port `name`; one that exists already is used as it is.
bool createOrUse(const std::string& what, int rc) {
  if (rc == tarn::kAlreadyExists) return false;
  check(rc, what.c_str());
  return true;
}

class EventBox : public Channel {
 public:
  EventBox(const std::string& name, const std::vector<int>& codes, int size, const Text& type, const Text& server,
           const Text& realm)
      : Channel(name, type, server, realm) {
    const int first = codes.empty() ? 0 : codes.front();
    int rc;
    {
      Unlocked unlocked;
      rc = Ostrel::CreateEventBox(name.c_str(), first, size, s(), r());
    }
    const bool created = createOrUse("create event box " + name, rc);
    for (std::size_t i = created ? 1 : 0; i < codes.size(); ++i)
      run("add event code to " + name, [&] { return Ostrel::AddEventCode(name.c_str(), codes[i], s(), r()); });
  }

  void send(BrennicData& record, const std::optional<int>& code) {
    run("send event to " + name(), [&] {
      return code ? Ostrel::SendEvent(*code, record, s(), r())
                  : Ostrel::SendEvent(name().c_str(), record, 0, s(), r());
    });
  }

  // The next event as a Record, or None when none came within the time-out.
  py::object receive(const std::optional<double>& timeout) {
    const std::string& type = receiveType();
    const unsigned int handle = receiver();
    struct List : BrennicDataList {
      ~List() { Ostrel::DestoryBrennicDataList(this); }
    } list;
    int rc;
    {
      Unlocked unlocked;
      rc = Ostrel::ReceiveEventN(handle, list, type.c_str(), 1, millis(timeout), s(), r());
    }
    if (rc == tarn::kNothingReceived) return py::none();
    check(rc, ("receive from " + name()).c_str());
    if (list.count == 0 || list.items[0] == nullptr) return py::none();
    return wrap(*list.items[0]);
  }

  unsigned int count() {
    unsigned int n = 0;
    run("count " + name(), [&] { return Ostrel::EventCount(name().c_str(), n, s(), r()); });
    return n;
  }
  void clear() {
    run("clear " + name(), [&] { return Ostrel::ClearEventBox(name().c_str(), s(), r()); });
  }
  void remove() {
    close();
    run("delete " + name(), [&] { return Ostrel::DeleteEventBox(name().c_str(), s(), r()); });
  }
};

class Port : public Channel {
 public:
  Port(const std::string& name, const Text& type, const Text& server, const Text& realm)
      : Channel(name, type, server, realm) {
    int rc;
    {
      Unlocked unlocked;
      rc = Ostrel::CreatePort(name.c_str(), s(), r());
    }
    createOrUse("create port " + name, rc);
  }

  // Sends `record` and waits for its reply, a Record of `reply_type` (the request's by default).
  std::unique_ptr<BrennicData> request(BrennicData& record, const std::optional<double>& timeout,
                                       const Text& replyType) {
    const std::string type = replyType ? *replyType : (record.GetTypeName() ? record.GetTypeName() : "");
    unsigned int handle = 0;
    BrennicData reply;
    int rc;
    {
      Unlocked unlocked;
      rc = Ostrel::SendPacket(name().c_str(), record, handle, 0, s(), r());
      if (rc == 0) rc = Ostrel::WaitUndefinedReply(handle, reply, millis(timeout), s(), r());
      if (handle != 0) Ostrel::DisConnect(static_cast<int>(handle), s(), r());
    }
    check(rc, ("request on " + name()).c_str());
    return typed(reply, type);
  }

  // The next packet and the handle to reply to, or None when none came within the time-out.
  py::object receive(const std::optional<double>& timeout) {
    const std::string& type = receiveType();
    const unsigned int handle = receiver();
    unsigned int replyHandle = 0;
    BrennicData packet;
    int rc;
    {
      Unlocked unlocked;
      rc = Ostrel::ReceivePacket(handle, replyHandle, packet, millis(timeout), s(), r());
    }
    if (rc == tarn::kNothingReceived) return py::none();
    check(rc, ("receive from " + name()).c_str());
    return py::make_tuple(py::cast(typed(packet, type)), replyHandle);
  }

  void reply(unsigned int replyHandle, BrennicData& record) {
    run("reply on " + name(), [&] { return Ostrel::ReplyPacket(replyHandle, record, 0, s(), r()); });
  }

  // Answers packets with `handler` until it returns None, `count` packets were answered, or
  // a receive times out; the number answered.
  int serve(const py::function& handler, const std::optional<double>& timeout, const std::optional<int>& count) {
    int served = 0;
    while (!count || served < *count) {
      py::object got = receive(timeout);
      if (got.is_none()) break;
      py::tuple pair = got.cast<py::tuple>();
      py::object answer = handler(pair[0]);
      if (answer.is_none()) break;
      reply(pair[1].cast<unsigned int>(), answer.cast<BrennicData&>());
      ++served;
    }
    return served;
  }
};

}  // namespace

void bindMessaging(py::module_& m) {
  const auto type = py::arg("type") = py::none();
  const auto server = py::arg("server") = py::none();
  const auto realm = py::arg("realm") = py::none();
  const auto timeout = py::arg("timeout") = py::none();

  py::class_<EventBox>(m, "EventBox", "A named event box: a queue of coded events held by a server.")
      .def(py::init<const std::string&, const std::vector<int>&, int, const Text&, const Text&, const Text&>(),
           py::arg("name"), py::kw_only(), py::arg("codes") = std::vector<int>{}, py::arg("size") = 100, type,
           server, realm,
           "Creates the box taking the event codes (or uses the one of that name); `type` is the data\n"
           "type of the events it receives.")
      .def_property_readonly("name", &EventBox::name)
      .def("send", &EventBox::send, py::arg("record"), py::arg("code") = py::none(),
           "Sends the Record to this box, or with `code` to every box taking that code.")
      .def("receive", &EventBox::receive, timeout,
           "The next event as a Record of the box's type, or None when none came within `timeout` seconds.")
      .def("count", &EventBox::count, "The number of events waiting in the box.")
      .def("clear", &EventBox::clear, "Drops every waiting event.")
      .def("delete", &EventBox::remove, "Deletes the box on the server.")
      .def("close", &EventBox::close, "Closes this object's receive connection.")
      .def("__iter__", [](py::object self) { return self; })
      .def("__next__", [](EventBox& box) { return box.receive(std::nullopt); },
           "Waits for the next event (iteration never ends by itself; break out of it).");

  m.def("declare", [](int code, BrennicData& record, const Text& s, const Text& r) {
        run("declare event " + std::to_string(code), [&] { return Ostrel::SendEvent(code, record, orNull(s), orNull(r)); });
      }, py::arg("code"), py::arg("record"), py::kw_only(), server, realm,
      "Sends the Record as an event of `code` to every box taking that code.");

  py::class_<Port>(m, "Port", "A named port: packets from senders to one receiver, each with a reply.")
      .def(py::init<const std::string&, const Text&, const Text&, const Text&>(), py::arg("name"), py::kw_only(), type,
           server, realm,
           "Creates the port (or uses the one of that name); `type` is the data type of the packets it receives.")
      .def_property_readonly("name", &Port::name)
      .def("request", &Port::request, py::arg("record"), timeout, py::arg("reply_type") = py::none(),
           "Sends the Record and waits for the reply, a Record of `reply_type` (default: the request's type).\n"
           "No reply within `timeout` seconds raises ostrel.TimedOut.")
      .def("receive", &Port::receive, timeout,
           "The next packet as (Record, reply handle), or None when none came within `timeout` seconds.")
      .def("reply", &Port::reply, py::arg("handle"), py::arg("record"), "Answers the packet of `handle`.")
      .def("serve", &Port::serve, py::arg("handler"), timeout, py::arg("count") = py::none(),
           "Answers each packet with handler(record) until it returns None, `count` packets were\n"
           "answered, or no packet comes within `timeout` seconds; the number answered.")
      .def("close", &Port::close, "Closes this object's receive connection.");
}

}  // namespace pyostrel
