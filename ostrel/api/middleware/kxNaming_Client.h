/// @file
/// The middleware's naming client: where servers are, which address of a redundant pair is
/// active, and news of servers that come and go.
///
/// One instance per process (GetInstance). A background thread pings every known server about
/// once a second and calls the registered connection slots, from that thread, when a server
/// starts or stops answering. All functions may be called from any thread.
#pragma once

#include <string>
#include <vector>

#include <ace/String_Base.h>
#include <boost/function.hpp>
#include <boost/signals2/connection.hpp>

#include "ostrel/api/middleware/kxTarn.h"
#include "ostrel/api/middleware/kxTarn_API.h"

/// The key of a server's service manager, for GetReferenceWithPosition.
#define KX_SERVICE_MANAGER_KEY "kxTarn_service_manager_naming_service_ref"
/// The key of a server's type service, for GetReferenceWithPosition.
#define KX_TYPE_SERVICE_KEY "ref_key_data_template_naming_service"

/// The naming client: one per process.
class KXTARN_API kxNaming_Client {
 public:
  /// What registerConnectionSlot calls: the server's name and whether it answers now.
  using ConnectionSlot = boost::function<void(std::string server, bool isConnected)>;

  /// The process's naming client, made (and its ping thread started) on first use.
  static kxNaming_Client* GetInstance();
  /// The end begins: every receive and reply wait in flight ends (KX_CLIENT_ENDED within about a
  /// second), and calls made from now on (leaves, closes) end within what is left of the bound
  /// below instead of the call bound. Call first when ending; ExitInstance calls it too.
  static void PrepareExit();
  /// Ends every receive and reply wait in flight (KX_CLIENT_ENDED within about a second), then
  /// stops the ping thread and the ORB; returns within 2.5 s of PrepareExit whatever the servers
  /// do (calls still under way on a frozen server then keep the ORB to the end of the process).
  /// Safe to call twice; calls made afterwards answer KX_CLIENT_ENDED.
  static void ExitInstance();

  /// `slot` is called from the naming client's thread whenever a known server starts answering
  /// (true) or stops answering (false).
  boost::signals2::connection registerConnectionSlot(const ConnectionSlot& slot);

  /// The address ("host:port", or "embedded") that answered last for `server`, or null when
  /// the server is unknown. The text belongs to the naming client and stays valid for the life
  /// of the process.
  const char* activeServer(const char* server);
  /// The addresses of `server` in order: first, then second.
  std::vector<ACE_String_Base<char>> potentialServers(const char* server);
  /// Pins `server` to one address (the pair is replaced by it).
  void setFixedAddress(const char* address, const char* server);
  /// Adds `target` as an address of `server` (a server unknown so far is added at "others").
  void addServerInfo(const char* server, const char* target);
  /// Forgets every server; InitServerInfo reads them again from the settings.
  void clearServerInfo();
  /// Reads the servers from the settings.
  void InitServerInfo();

  /// The object registered under `key` at the server of `position` ("own", "parent", "child",
  /// "others"); nil when no server holds that position or the key is unknown there. Keys:
  /// KX_SERVICE_MANAGER_KEY, KX_TYPE_SERVICE_KEY, and "/INSTANCE/" KX_TYPE_SERVICE_KEY.
  CORBA::Object_ptr GetReferenceWithPosition(const char* position, const char* key);
  /// A new reference to the same object whose calls end with CORBA::TIMEOUT after `timeoutMs`
  /// milliseconds (a negative value: no limit; 0: the default call time-out of every reference);
  /// nil when `reference` is nil. `reference` itself keeps its own time-out.
  CORBA::Object_ptr changeTimeOut(CORBA::Object_ptr reference, int timeoutMs, const char* server,
                                  const char* position);

  kxNaming_Client(const kxNaming_Client&) = delete;
  kxNaming_Client& operator=(const kxNaming_Client&) = delete;

 private:
  kxNaming_Client();
  ~kxNaming_Client();
};
