/// @file
/// TarnTypeMgr: the process-wide registry of data types.
///
/// Holds every TarnDataType by name, registers the base types when it is created, and loads all
/// other definitions from the middleware's type services (DT_manager) at the positions "own",
/// "parent", "child" and "others", either as one packed type definition stream or type by type.
/// A lookup of a name it does not know runs a full build, with all its remote calls, under the
/// manager's lock; other threads' lookups wait for it.
///
/// Threads: GetDataType, CheckDataType, BuildType and both BuildTarnDataType forms hold the
/// recursive lock for their whole run and may be called from any thread. typeList,
/// getTarnTypeImpl, loadFromStream and the create* helpers take no lock; inside the library they
/// run only within a build. Types are never removed while the manager lives, so a TarnDataType*
/// handed out stays valid until the manager is destroyed (at process exit). A build only adds
/// types and elements, so a field path resolved on a type (field_path.h) keeps its answer.
///
/// Failures are never reported: builds return nothing, lookups return null. A remote exception
/// while types are fetched stops the build and leaves `built` false with the types found so far.
///
/// Type definition stream (little-endian; texts NUL-terminated within their fields):
/// @verbatim
///   0: 4 bytes not read | 4: u32 type record count | 8: type records back to back
///   type record:    0: name[128] | 128: u32 element count | 132: 4 not read | 136: u32 size
///                   (low 16 bits used) | 140: element records of 264 bytes each
///   element record: 0: type name[128] | 128: name[128] | 256: u16 offset | 258: 2 not read |
///                   260: u16 count | 262: 2 not read
/// @endverbatim
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <ace/Recursive_Thread_Mutex.h>
#include "ostrel/platform/singleton.h"

#include "ostrel/api/export.h"
#include "ostrel/data/data_type.h"

namespace CORBA {
class Object;
}

/// One element definition as read from a type definition stream.
struct OSTREL_EXPORT StreamDT_INFO {
  std::string typeName;      ///< the element's type name
  std::string name;          ///< the element's name
  unsigned short count = 0;  ///< number of items; 1 for a scalar
  unsigned short offset = 0; ///< byte offset inside the type
};

/// The process-wide registry of data types (GetInstance); neither copyable nor movable.
class OSTREL_EXPORT TarnTypeMgr {
 public:
  /// Finds the remote object registered under `key` at `position`; returns an owned reference
  /// (the caller releases it) or nil. The default asks the naming client.
  using ReferenceResolver = std::function<CORBA::Object*(const char* position, const char* key)>;

  /// The one instance, created on first use; null if it cannot be allocated.
  static TarnTypeMgr* GetInstance();

  /// Deletes every type; made and destroyed only through GetInstance and the process's end.
  virtual ~TarnTypeMgr();
  TarnTypeMgr(const TarnTypeMgr&) = delete;
  TarnTypeMgr& operator=(const TarnTypeMgr&) = delete;

  /// Lookup that runs a full build on a miss (every miss, also a repeated one); null for a null
  /// or empty name (without locking or building) and for a name still unknown after the build.
  TarnDataType* GetDataType(const char* name);
  /// Lookup under the lock without building; null for a null or unknown name.
  TarnDataType* CheckDataType(const char* name);
  /// Runs the full build unless one has run to its end.
  void BuildType();
  /// Full build over the four positions.
  void BuildTarnDataType();
  /// Build from one position: every type service there is read type by type.
  void BuildTarnDataType(const char* position);

  /// Reads a type definition stream, trusting the counts inside it.
  /// REQUIRES: `stream` holds every byte its counts describe; prefer the length-taking form.
  void loadFromStream(char* stream);
  /// Reads a type definition stream of `length` bytes. Checks every count and field against
  /// `length` first: a stream that is short or malformed changes nothing and gives false.
  /// Types already registered are left untouched.
  bool loadFromStream(const char* stream, std::size_t length);

  /// The names of all known types in byte-wise ascending order. Takes no lock.
  std::vector<std::string> typeList();

  /// Replaces how the builds find remote objects (tests and tools; an empty resolver restores
  /// the naming client). Call only while no build runs.
  void setReferenceResolver(ReferenceResolver resolver);
  /// True once a build has run to its end, false after one stopped on a remote exception.
  bool isBuilt();

 protected:
  TarnTypeMgr();

  /// Lookup without the lock and without building.
  TarnDataType* getTarnTypeImpl(const char* name);
  /// Creates a type and registers it under `name`. A name already registered is rebound to
  /// the new type; the old one stays alive (pointers to it remain valid) until destruction,
  /// with the field paths resolved on it, while the new one starts with none.
  TarnDataType* createDataTypeFromStream(const std::string& name, int size);
  /// Attaches elements to `type`, walking `infos` from the last entry to the first. Always 0.
  int createFromStream(TarnDataType* type, const std::vector<StreamDT_INFO>& infos);

 private:
  friend class ACE_Singleton<TarnTypeMgr, ACE_Recursive_Thread_Mutex>;
  struct Build;

  void registerBaseTypes();
  void buildPosition(Build& build, const char* position, int index);
  void loadFromReference(Build& build, CORBA::Object* reference, int index);
  CORBA::Object* resolve(const char* position, const char* key);

  ACE_Recursive_Thread_Mutex lock_;
  std::map<std::string, TarnDataType*, TarnNameLess> types_;  ///< GUARDED_BY(lock_) during builds
  std::vector<std::unique_ptr<TarnDataType>> retired_;      ///< types rebound by name
  bool built_ = false;                                       ///< GUARDED_BY(lock_)
  ReferenceResolver resolver_;
};
