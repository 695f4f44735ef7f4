// The middleware's reference container: service references cached per (server, realm).
//
// A null or empty server is the server at position "own"; the position is the realm. Every
// reference handed out is a duplicate that the caller releases with CORBA::release; nil when
// the server is unknown or does not answer. After a remote failure the caller drops the cached
// reference with the matching Release...Reference so that the next call builds a fresh one.
// All functions may be called from any thread.
#pragma once

#include <vector>

#include <ace/String_Base.h>

#include "ostrel/api/middleware/kxTarn.h"
#include "ostrel/api/middleware/kxTarn_API.h"

class KXTARN_API kxReferenceContainer {
 public:
  static kxReferenceContainer* instance();

  kxTarn::DT_Point_Factory_ptr GetDptReferenceWithServerName(const char* server, const char* position);
  kxTarn::Port_Factory_ptr GetPortReferenceWithServerName(const char* server, const char* position);
  kxTarn::contender_server_ptr GetContenerReferenceWithServerName(const char* server,
                                                                  const char* position);
  void ReleaseDtpReference(const char* server, const char* position);
  void ReleasePortReference(const char* server, const char* position);
  void ReleaseContenterReference(const char* server, const char* position);

  // The service manager of `server`; nil when unknown or not answering.
  kxTarn::kxTarnServiceManager_ptr GetServiceRefrence(const char* server);
  // Reads the settings again (after they were changed).
  void BuildSettingData();
  // The names of the servers at `position` (null: every server). The texts stay the
  // container's until BuildSettingData runs again; the caller frees only the vector.
  std::vector<ACE_String_Base<char>*> InquireServerNameWithPosition(const char* position);
  // Drops every cached reference of `server`.
  void releaseAllReference(const char* server);

  kxReferenceContainer(const kxReferenceContainer&) = delete;
  kxReferenceContainer& operator=(const kxReferenceContainer&) = delete;

 private:
  kxReferenceContainer();
  ~kxReferenceContainer();
};
