// Event boxes and ports from Python: EventBox (send, receive, iteration, count, clear, delete),
// declare (an event to every box taking its code) and Port (request, receive, reply, serve).
//
// Payloads travel as raw bytes, so the receiving side names the data type it expects (`type=`);
// a request's reply defaults to the request's own type. A payload whose length differs from the
// type's size raises ostrel.Error (2012) instead of handing back a record that reads past it.
// Each object keeps one receive connection, opened on its first receive and closed when it is
// deleted, so receives that time out leave no connection behind on the server.
// Time-outs are seconds (float); None waits without limit. Waits run in slices (waits.h), so
// Ctrl-C ends them and a message is either returned or still queued.
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/data/record.h"
#include "binding.h"

namespace pyostrel {
namespace {

// The default capacity of a new event box, the same as the tool's `box create`.
constexpr int kDefaultBoxSize = 1000;

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

struct DataList : BrennicDataList {
  DataList() = default;
  DataList(const DataList&) = delete;
  DataList& operator=(const DataList&) = delete;
  ~DataList() { Ostrel::DestoryBrennicDataList(this); }
};

// The name, target and receive connection shared by boxes and ports. Needs the GIL.
class Channel {
 public:
  Channel(std::string name, Text type, Text server, Text realm)
      : name_(std::move(name)), type_(std::move(type)), server_(std::move(server)), realm_(std::move(realm)) {
    cstr(name_);
    if (type_) cstr(*type_);
  }
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;
  ~Channel() { close(false); }

  // Closes the receive connection; the next receive opens a new one. Waits for the server's
  // answer (Ctrl-C ends the wait) unless `wait` is false, as when the object goes.
  void close(bool wait = true) {
    const unsigned int handle = handle_;
    handle_ = 0;
    if (handle == 0 || libraryEnded()) return;
    if (!wait) return release(handle);
    const Text server = server_, realm = realm_;
    interruptible(server_, [=] {
      Ostrel::DisConnect(static_cast<int>(handle), orNull(server), orNull(realm));
      return 0;
    });
  }

  const std::string& name() const { return name_; }
  const Text& type() const { return type_; }
  const Text& server() const { return server_; }
  const Text& realm() const { return realm_; }
  const char* s() const { return orNull(server_); }
  const char* r() const { return orNull(realm_); }

 protected:
  // The receive connection, opened on first use.
  unsigned int receiver() {
    if (handle_ == 0) {
      auto handle = std::make_shared<unsigned int>(0);
      const std::string name = name_;
      const Text server = server_, realm = realm_;
      run(server_, "connect " + name_, [=] {
        int rc = Ostrel::ConnectPortForRecv(name.c_str(), *handle, orNull(server), orNull(realm));
        if (rc == code::kReceiveRefused) rc = Ostrel::ConnectPortForRecv(name.c_str(), *handle, orNull(server), orNull(realm));
        return rc;
      });
      if (handle_ != 0) {  // another thread connected meanwhile: keep one connection
        release(*handle);
      } else {
        handle_ = *handle;
      }
    }
    return handle_;
  }
  // A receive slice abandoned on Ctrl-C, collected by the next receive.
  Parked& parked() { return parked_; }
  const std::string& receiveType() const {
    if (!type_) throw py::value_error(name_ + ": give type= to receive (the data type of the payloads)");
    return *type_;
  }
  // Closes a connection without waiting for the server's answer when it may be frozen.
  void release(unsigned int handle) {
    const Text server = server_, realm = realm_;
    releaseLater(server_, [=] {
      Ostrel::DisConnect(static_cast<int>(handle), orNull(server), orNull(realm));
      return 0;
    });
  }

 private:
  std::string name_;
  Text type_, server_, realm_;
  unsigned int handle_ = 0;
  Parked parked_;
};

// Creates the box or port `name`; one that exists already is used as it is.
bool createOrUse(const std::string& what, int rc) {
  if (rc == code::kAlreadyExists) return false;
  check(rc, what.c_str());
  return true;
}

class EventBox : public Channel {
 public:
  EventBox(const std::string& name, const std::vector<int>& codes, int size, const Text& type, const Text& server,
           const Text& realm)
      : Channel(name, type, server, realm) {
    const int first = codes.empty() ? 0 : codes.front();
    const int rc = interruptible(server, [=] { return Ostrel::CreateEventBox(name.c_str(), first, size, orNull(server), orNull(realm)); });
    const bool created = createOrUse("create event box " + name, rc);
    for (std::size_t i = created ? 1 : 0; i < codes.size(); ++i) {
      const int code = codes[i];
      run(server, "add event code to " + name, [=] { return Ostrel::AddEventCode(name.c_str(), code, orNull(server), orNull(realm)); });
    }
  }

  void send(BrennicData& record, const std::optional<int>& code) {
    auto copy = std::make_shared<BrennicData>(record);
    const std::string name = this->name();
    const Text server = this->server(), realm = this->realm();
    run(server, "send event to " + name, [=] {
      return code ? Ostrel::SendEvent(*code, *copy, orNull(server), orNull(realm))
                  : Ostrel::SendEvent(name.c_str(), *copy, 0, orNull(server), orNull(realm));
    });
  }

  // The next event as a Record, or None when none came within the time-out. Without a type
  // the events are self-describing (declared with their type) and come back typed as sent.
  py::object receive(const std::optional<double>& timeout) {
    const unsigned int handle = receiver();
    const bool typed = this->type().has_value();
    const std::string type = this->type().value_or(std::string());
    const Text server = this->server(), realm = this->realm();
    std::shared_ptr<void> state;
    const int rc = waitInSlicesKept(server, millis(timeout), parked(), [&](int ms) {
      auto list = std::make_shared<DataList>();
      return Slice{list, [=] {
        return typed ? Ostrel::ReceiveEventN(handle, *list, type.c_str(), 1, ms, orNull(server), orNull(realm))
                     : Ostrel::ReceiveUndefinedEventN(handle, *list, 1, ms, orNull(server), orNull(realm));
      }};
    }, state);
    if (rc == code::kNothingReceived) return py::none();
    check(rc, ("receive from " + name()).c_str());
    DataList& list = *std::static_pointer_cast<DataList>(state);
    if (list.count == 0 || list.items[0] == nullptr) return py::none();
    BrennicData* event = list.items[0];
    list.items[0] = nullptr;
    return adopt(event);
  }

  unsigned int count() {
    auto n = std::make_shared<unsigned int>(0);
    const std::string name = this->name();
    const Text server = this->server(), realm = this->realm();
    run(server, "count " + name, [=] { return Ostrel::EventCount(name.c_str(), *n, orNull(server), orNull(realm)); });
    return *n;
  }
  void clear() {
    const std::string name = this->name();
    const Text server = this->server(), realm = this->realm();
    run(server, "clear " + name, [=] { return Ostrel::ClearEventBox(name.c_str(), orNull(server), orNull(realm)); });
  }
  void remove() {
    close(false);
    const std::string name = this->name();
    const Text server = this->server(), realm = this->realm();
    run(server, "delete " + name, [=] { return Ostrel::DeleteEventBox(name.c_str(), orNull(server), orNull(realm)); });
  }
};

class Port : public Channel {
 public:
  Port(const std::string& name, const Text& type, const Text& server, const Text& realm)
      : Channel(name, type, server, realm) {
    createOrUse("create port " + name,
                interruptible(server, [=] { return Ostrel::CreatePort(name.c_str(), orNull(server), orNull(realm)); }));
  }

  // Sends `record` and waits for its reply, a Record of `reply_type` (the request's by default).
  std::unique_ptr<BrennicData> request(BrennicData& record, const std::optional<double>& timeout,
                                       const Text& replyType) {
    const std::string type = replyType ? *replyType : (record.GetTypeName() ? record.GetTypeName() : "");
    auto copy = std::make_shared<BrennicData>(record);
    auto handle = std::make_shared<unsigned int>(0);
    const std::string name = this->name();
    const Text server = this->server(), realm = this->realm();
    const int sent = interruptible(server, [=] {
      const int rc = Ostrel::SendPacket(name.c_str(), *copy, *handle, 0, orNull(server), orNull(realm));
      if (rc != 0 && *handle != 0) Ostrel::DisConnect(static_cast<int>(*handle), orNull(server), orNull(realm));
      return rc;
    });
    check(sent, ("request on " + name).c_str());
    const unsigned int waitHandle = *handle;
    Parked parked;  // a reply slice Ctrl-C abandoned: the connection closes once it has ended
    std::shared_ptr<void> state;
    int rc;
    try {
      rc = waitInSlicesKept(server, millis(timeout), parked, [&](int ms) {
        auto reply = std::make_shared<BrennicData>();
        return Slice{reply, [=] { return Ostrel::WaitUndefinedReply(waitHandle, *reply, ms, orNull(server), orNull(realm)); }};
      }, state);
    } catch (...) {
      releaseAfter(server, std::move(parked), [=] {
        Ostrel::DisConnect(static_cast<int>(waitHandle), orNull(server), orNull(realm));
        return 0;
      });
      throw;
    }
    release(waitHandle);
    check(rc, ("request on " + name).c_str());
    BrennicData& reply = *std::static_pointer_cast<BrennicData>(state);
    return typed(reply, type);
  }

  // The next packet and the handle to reply to, or None when none came within the time-out.
  py::object receive(const std::optional<double>& timeout) {
    const std::string& type = receiveType();
    const unsigned int handle = receiver();
    const Text server = this->server(), realm = this->realm();
    struct Packet {
      BrennicData packet;
      unsigned int replyHandle = 0;
    };
    std::shared_ptr<void> state;
    const int rc = waitInSlicesKept(server, millis(timeout), parked(), [&](int ms) {
      auto got = std::make_shared<Packet>();
      return Slice{got, [=] {
        return Ostrel::ReceivePacket(handle, got->replyHandle, got->packet, ms, orNull(server), orNull(realm));
      }};
    }, state);
    if (rc == code::kNothingReceived) return py::none();
    check(rc, ("receive from " + name()).c_str());
    Packet& got = *std::static_pointer_cast<Packet>(state);
    return py::make_tuple(py::cast(typed(got.packet, type)), got.replyHandle);
  }

  void reply(unsigned int replyHandle, BrennicData& record) {
    auto copy = std::make_shared<BrennicData>(record);
    const Text server = this->server(), realm = this->realm();
    run(server, "reply on " + name(), [=] { return Ostrel::ReplyPacket(replyHandle, *copy, 0, orNull(server), orNull(realm)); });
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
           py::arg("name"), py::kw_only(), py::arg("codes") = std::vector<int>{}, py::arg("size") = kDefaultBoxSize,
           type, server, realm,
           "Creates the box taking the event codes and holding `size` events (or uses the one of that\n"
           "name as it is); `type` is the data type of the events it receives, None for self-describing\n"
           "events (ostrel.declare(..., self_describing=True)).\n\n"
           "Raises ValueError for a name with NUL; " OSTREL_RAISES_REMOTE)
      .def_property_readonly("name", &EventBox::name)
      .def("send", &EventBox::send, py::arg("record"), py::arg("code") = py::none(),
           "Sends the Record to this box, or with `code` to every box taking that code.\n\n"
           "Raises ostrel.NotFound (2003) when the box is gone, ostrel.Error 2019 when it is full; "
           OSTREL_RAISES_REMOTE)
      .def("receive", &EventBox::receive, timeout,
           "The next event as a Record, or None when none came within `timeout` seconds (None: no limit).\n"
           "Ctrl-C ends the wait with KeyboardInterrupt and leaves the event queued.\n\n"
           "Raises ostrel.Error 2012 when the next event does not fit the box's type (it stays queued: clear()\n"
           "drops it); "
           OSTREL_RAISES_REMOTE)
      .def("count", &EventBox::count, "The number of events waiting in the box.\n\nRaises " OSTREL_RAISES_REMOTE)
      .def("clear", &EventBox::clear, "Drops every waiting event.\n\nRaises " OSTREL_RAISES_REMOTE)
      .def("delete", &EventBox::remove, "Deletes the box on the server.\n\nRaises ostrel.NotFound (2003) when it is gone; "
           OSTREL_RAISES_REMOTE)
      .def("close", [](EventBox& box) { box.close(); }, "Closes this object's receive connection. Raises nothing but KeyboardInterrupt on Ctrl-C.")
      .def("__iter__", [](py::object self) { return self; })
      .def("__next__", [](EventBox& box) { return box.receive(std::nullopt); },
           "Waits for the next event (iteration never ends by itself; break out of it, or Ctrl-C).");

  m.def("declare", [](int code, BrennicData& record, bool selfDescribing, const Text& s, const Text& r) {
        auto copy = std::make_shared<BrennicData>(record);
        run(s, "declare event " + std::to_string(code), [=] {
          return selfDescribing ? Ostrel::SendUndefinedEvent(code, *copy, orNull(s), orNull(r))
                                : Ostrel::SendEvent(code, *copy, orNull(s), orNull(r));
        });
      }, py::arg("code"), py::arg("record"), py::kw_only(), py::arg("self_describing") = false, server, realm,
      "Sends the Record as an event of `code` to every box taking that code: its bare value, or with\n"
      "`self_describing` its type and value, for boxes made without type=.\n\n"
      "Raises ostrel.Error 3014 for a record without type (self-describing); " OSTREL_RAISES_REMOTE);

  py::class_<Port>(m, "Port", "A named port: packets from senders to one receiver, each with a reply.")
      .def(py::init<const std::string&, const Text&, const Text&, const Text&>(), py::arg("name"), py::kw_only(), type,
           server, realm,
           "Creates the port (or uses the one of that name); `type` is the data type of the packets it receives.\n\n"
           "Raises ValueError for a name with NUL; " OSTREL_RAISES_REMOTE)
      .def_property_readonly("name", &Port::name)
      .def("request", &Port::request, py::arg("record"), timeout, py::arg("reply_type") = py::none(),
           "Sends the Record and waits for the reply, a Record of `reply_type` (default: the request's type).\n\n"
           "Raises ostrel.TimedOut when no reply came within `timeout` seconds (None: no limit),\n"
           "ostrel.NotFound (2003) when there is no such port, ostrel.Error 2012 when the reply does not fit\n"
           "`reply_type`; " OSTREL_RAISES_REMOTE)
      .def("receive", &Port::receive, timeout,
           "The next packet as (Record, reply handle), or None when none came within `timeout` seconds.\n"
           "Ctrl-C ends the wait with KeyboardInterrupt and leaves the packet queued.\n\n"
           "Raises ValueError when the port was made without type=, ostrel.Error 2012 when the packet does\n"
           "not fit it; " OSTREL_RAISES_REMOTE)
      .def("reply", &Port::reply, py::arg("handle"), py::arg("record"),
           "Answers the packet of `handle`.\n\nRaises ostrel.Error 2022 when no packet awaits that reply; "
           OSTREL_RAISES_REMOTE)
      .def("serve", &Port::serve, py::arg("handler"), timeout, py::arg("count") = py::none(),
           "Answers each packet with handler(record) until it returns None, `count` packets were\n"
           "answered, or no packet comes within `timeout` seconds; the number answered.\n\n"
           "Raises what handler raises, and what receive() and reply() raise; KeyboardInterrupt on Ctrl-C.")
      .def("close", [](Port& port) { port.close(); }, "Closes this object's receive connection. Raises nothing but KeyboardInterrupt on Ctrl-C.");
}

}  // namespace pyostrel
