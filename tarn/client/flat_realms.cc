// The flat client API: realms, channels and connections.
#include <cstdio>
#include <cstring>

#include "ostrel/api/middleware/kxTarn_API.h"
#include "tarn/client/remote_call.h"

using namespace tarn;

int kx_releam_seq(ObjectNames* names, const char* server) {
  if (!names) return kBadArgument;
  kxTarn::kxTarnServiceManager_var manager = kxReferenceContainer::instance()->GetServiceRefrence(server);
  if (CORBA::is_nil(manager)) return unreachableCode(server);
  try {
    kxTarn::STRING_LIST_var realms = manager->realm_names();
    fillNames(names, realms.in());
    return kOk;
  } catch (...) {
    return kRemoteFailure;
  }
}

int kx_delete_releam(const char* server, const char* realm) {
  if (!realm || !*realm) return kBadArgument;
  kxTarn::kxTarnServiceManager_var manager = kxReferenceContainer::instance()->GetServiceRefrence(server);
  if (CORBA::is_nil(manager)) return server && *server ? kServerNotAnswering : kNoServerNamed;
  try {
    return manager->delete_realm(realm);
  } catch (...) {
    return kRemoteFailure;
  }
}

int kx_com_chennal_seq(ObjectNames* names, const char* server, const char* position) {
  if (!names) return kBadArgument;
  return callPorts(server, position, [&](kxTarn::Port_Factory_ptr service) {
    kxTarn::STRING_LIST_var channels;
    const int rc = service->channel_names(channels.out());
    if (rc == kOk) fillNames(names, channels.in());
    return rc;
  });
}

int kx_get_connection_info(ConnectionSequence* connections, const char* server, const char* position) {
  if (!connections) return kBadArgument;
  return callPorts(server, position, [&](kxTarn::Port_Factory_ptr service) {
    kxTarn::ConnectionInfoSeq_var infos;
    const int rc = service->connections(infos.out());
    if (rc != kOk) return rc;
    connections->count = static_cast<int>(infos->length());
    connections->items = new ConnectionEntry[infos->length()];
    for (CORBA::ULong i = 0; i < infos->length(); ++i) {
      ConnectionEntry& entry = connections->items[i];
      entry.handle = infos[i].handle;
      entry.direction = infos[i].direction;
      std::snprintf(entry.portName, sizeof entry.portName, "%s", infos[i].portName.in());
      std::snprintf(entry.process, sizeof entry.process, "%s", infos[i].process.in());
      entry.idleSeconds = infos[i].idleSeconds;
      entry.reclaimSeconds = infos[i].reclaimSeconds;
    }
    return kOk;
  });
}

void kx_destory_connection_seq(ConnectionSequence* connections) {
  if (!connections) return;
  delete[] connections->items;
  connections->items = nullptr;
  connections->count = 0;
}

int kx_peek_channel(const char* name, int kind, unsigned int from, int count, kxPeekedValues* values,
                    const char* server, const char* position) {
  if (!values) return kBadArgument;
  *values = kxPeekedValues();
  if (!name || count < 1 || count > KX_PEEK_MOST) return kBadArgument;
  return callPorts(server, position, [&](kxTarn::Port_Factory_ptr service) {
    CORBA::ULong held = 0;
    kxTarn::DATA_BUFFER_SEQ_var seen;
    const int rc = service->peek_channel(name, kind, from, count, held, seen.out());
    if (rc != kOk) return rc;
    values->held = held;
    values->items = new kxPeekedValue[seen->length()];
    for (CORBA::ULong i = 0; i < seen->length(); ++i) {
      const kxTarn::DATA_BUFFER& value = seen[i];
      kxPeekedValue& item = values->items[i];
      item.position = from + i;
      item.length = value.length();
      item.buffer = handOver(value);
      values->count = static_cast<int>(i + 1);
    }
    return kOk;
  });
}

void kx_destory_peeked(kxPeekedValues* values) {
  if (!values) return;
  for (int i = 0; i < values->count; ++i) ::operator delete(values->items[i].buffer);
  delete[] values->items;
  *values = kxPeekedValues();
}
