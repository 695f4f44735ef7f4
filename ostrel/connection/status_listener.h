/// @file
/// BrennicStatusListenerBase: the application's window on servers that come and go.
///
/// An application derives from this class, installs an object with Ostrel::InstallListener and
/// removes it with Ostrel::RemoveListener. The connector keeps only a pointer: the object must stay
/// alive and unmoved until RemoveListener has returned (destroying it does not remove it).
///
/// onConnected and onDisconnected are called from the connector's monitor thread or from the
/// application thread that runs ConnectTarn, DisConnectTarn or updateServerSetting, always with
/// the connector's listener lock held and never with its state lock held. One pass calls every
/// installed listener in installation order; passes never overlap, so a callback that blocks
/// stalls every other pass and every install and removal by other threads. A callback may
/// install or remove listeners (the listener lock is recursive); it must not wait for another
/// thread that does.
#pragma once

#include <cstdint>

#include "ostrel/api/export.h"

/// The base of an application's status listener: derive from it, define the pure virtual
/// operations, and install an object with Ostrel::InstallListener.
///
/// Copyable (the copy carries the tag); the library never copies, moves or deletes a listener.
class OSTREL_EXPORT BrennicStatusListenerBase {
 public:
  /// A listener with a zero tag.
  BrennicStatusListenerBase() = default;
  /// Copies the tag.
  BrennicStatusListenerBase(const BrennicStatusListenerBase& other) = default;
  /// Copies the tag.
  BrennicStatusListenerBase& operator=(const BrennicStatusListenerBase& other) = default;
  /// Does nothing else: it does not remove the listener (call Ostrel::RemoveListener first).
  virtual ~BrennicStatusListenerBase();

  /// The server's connection result became 0, or, with the result unchanged, its active server
  /// changed to another non-empty address. `server` is the resolved name, valid during the call.
  virtual void onConnected(const char* server) = 0;
  /// The server's connection result became nonzero, its active server became empty, or the
  /// application disconnected it (DisConnectTarn, updateServerSetting).
  virtual void onDisconnected(const char* server) = 0;

  /// Reserved for finer-grained news of the naming server; the library never calls it.
  virtual void onNamingServerChanged(const char* server, int state) = 0;
  /// Reserved for finer-grained news of a data server; the library never calls it.
  virtual void onDataServerChanged(const char* server, const char* position, int state) = 0;
  /// Reserved for finer-grained news of an event server; the library never calls it.
  virtual void onEventServerChanged(const char* server, const char* position, int state) = 0;
  /// Reserved for news of a master switch; the library never calls it.
  virtual void onMasterChanged(const char* server, bool master) = 0;

  /// Returns 0 whatever the argument.
  int getNamingServerState(const char* server);
  /// Returns 0 whatever the arguments.
  int getDataServerState(const char* server, const char* position);
  /// Returns 0 whatever the arguments.
  int getEventServerState(const char* server, const char* position);

 protected:
  /// Free for the application's own use; copied with the object, never read by the library.
  std::int64_t userTag_ = 0;
};
