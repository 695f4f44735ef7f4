/// @file
/// The middleware's reference container: service references cached per (server, realm).
///
/// A null or empty server is the server at position "own"; the position is the realm. Every
/// reference handed out is a duplicate that the caller releases with CORBA::release; nil when
/// the server is unknown or does not answer. After a remote failure the caller drops the cached
/// reference with the matching Release...Reference so that the next call builds a fresh one.
/// All functions may be called from any thread.
#pragma once

#include <vector>

#include <ace/String_Base.h>

#include "ostrel/api/middleware/kxTarn.h"
#include "ostrel/api/middleware/kxTarn_API.h"

/// The reference container: one per process.
class KXTARN_API kxReferenceContainer {
 public:
  /// The process's reference container, made on first use.
  static kxReferenceContainer* instance();

  /// The data point service of (`server`, realm `position`), or nil.
  kxTarn::DT_Point_Factory_ptr GetDptReferenceWithServerName(const char* server, const char* position);
  /// The port service of (`server`, realm `position`), or nil.
  kxTarn::Port_Factory_ptr GetPortReferenceWithServerName(const char* server, const char* position);
  /// The contention service of (`server`, realm `position`), or nil.
  kxTarn::contender_server_ptr GetContenerReferenceWithServerName(const char* server,
                                                                  const char* position);
  /// Drops the cached data point service reference of (`server`, `position`).
  void ReleaseDtpReference(const char* server, const char* position);
  /// Drops the cached port service reference of (`server`, `position`).
  void ReleasePortReference(const char* server, const char* position);
  /// Drops the cached contention service reference of (`server`, `position`).
  void ReleaseContenterReference(const char* server, const char* position);

  /// The service manager of `server`; nil when unknown or not answering.
  kxTarn::kxTarnServiceManager_ptr GetServiceRefrence(const char* server);
  /// Reads the settings again (after they were changed).
  void BuildSettingData();
  /// The names of the servers at `position` (null: every server). The texts stay the
  /// container's until BuildSettingData runs again; the caller frees only the vector.
  std::vector<ACE_String_Base<char>*> InquireServerNameWithPosition(const char* position);
  /// Drops every cached reference of `server`.
  void releaseAllReference(const char* server);

  kxReferenceContainer(const kxReferenceContainer&) = delete;
  kxReferenceContainer& operator=(const kxReferenceContainer&) = delete;

 private:
  kxReferenceContainer();
  ~kxReferenceContainer();
};
