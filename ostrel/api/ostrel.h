/// @file
/// Ostrel: the exported operations of the client library.
///
/// Every operation passes through three layers of one signature: the façade Ostrel::X calls the
/// slot OstrelFunc::X (a replaceable boost::function), which by default holds the default
/// implementation OstrelOrigin::X. OstrelFunc::loadDefault() binds every slot to its default
/// again; it runs once when the library is loaded. An empty slot makes its façade throw
/// boost::bad_function_call. Slots hold no lock: replace them only while no other thread calls
/// through them. Operations return int result codes (0 success; see result_codes.h).
#pragma once

#include <string>
#include <vector>

#include <boost/function.hpp>

#include "ostrel/api/export.h"
#include "ostrel/api/name_lists.h"
#include "ostrel/api/result_codes.h"
#include "ostrel/datapoints/remote_file.h"

class BrennicData;
class BrennicPartialData;
class BrennicStatusListenerBase;
struct BrennicDataList;
struct BrennicMetaList;
struct BrennicServerList;
struct ContenderInHost;
struct ContenderInHostSequence;
struct ProgramStatus;
struct ProgramStatusSequence;

// The façade, one declaration with its comment per operation, written out of the operation
// table when the build is configured.
#include "ostrel/api/facade.h"

/// @cond
#define OSTREL_OP(R, Name, Slot, Params, Args) OSTREL_EXPORT R Name Params;
/// @endcond
/// The default implementations: OstrelOrigin::X has the signature of the façade Ostrel::X (the
/// slot's, for the few façades that take a vector otherwise) and does the operation's work. A
/// replacement put into a slot may call it.
namespace OstrelOrigin {
#include "ostrel/api/operations.def"
}
#undef OSTREL_OP

/// @cond
#define OSTREL_OP(R, Name, Slot, Params, Args) OSTREL_EXPORT extern boost::function<R Params> Slot;
/// @endcond
/// The slots: one replaceable boost::function per operation, named after the operation (an
/// overload's slot carries a longer name, the third column of ostrel/api/operations.def). Replace
/// a slot only while no other thread calls through it; an empty slot makes its façade throw
/// boost::bad_function_call.
namespace OstrelFunc {
#include "ostrel/api/operations.def"
/// Binds every slot to its default implementation in OstrelOrigin.
OSTREL_EXPORT void loadDefault();
}  // namespace OstrelFunc
#undef OSTREL_OP
