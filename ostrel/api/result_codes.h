/// @file
/// Result codes that the library produces itself. All other nonzero codes come from the
/// middleware unchanged (2000-2999); Ostrel::GetErrorString gives the text of any code.
#pragma once

/// The result codes of the library, by name: the numbers that the operations return.
namespace OstrelCode {

constexpr int kOk = 0;  ///< success
constexpr int kNoState = -1;            ///< the server has no recorded connection state
constexpr int kNoTimeOutReference = -1; ///< no reference with a longer call time-out could be made
constexpr int kRecordWithoutName = -2;  ///< Teleport: the record has no name
constexpr int kNoReference = 99;        ///< no remote service reference for the server and position
constexpr int kContenderCallFailed = 100;     ///< GetContenderList: the remote call failed
constexpr int kPartialBatchCallFailed = 103;  ///< PutPartialDataPoints and its forms: a remote call failed
constexpr int kTypeQueryCallFailed = 104;     ///< GetDataPointByTypeName, QueryDataPoint: the remote call failed
constexpr int kRemoteCallFailed = 123;        ///< the remote call of the other operations on a service failed
constexpr int kMasterCallFailed = 137;        ///< setMasterMiddleware: the remote call failed
constexpr int kCreateBatchCallFailed = 142;   ///< CreateDataPoints: a CORBA system exception while the request was built or sent
/// A received event, packet or reply whose size is not the one the record or type asks for; it
/// stays queued.
constexpr int kEventSizeMismatch = 2012;
/// From the middleware: a receive connection refused for a passing reason; the receive-by-name
/// operations try once more.
constexpr int kReceiveRefused = 2004;
/// From the middleware: the client has ended (ExitOstrel ran); waits in flight end with it.
constexpr int kLibraryEnded = 2025;
/// From the middleware: a wait ended with nothing to receive.
constexpr int kNothingReceived = 2008;
/// From the middleware: the server knows no connection of that handle (closed, or closed for
/// being idle).
constexpr int kBadHandle = 2011;
constexpr int kNotConnected = 2015;      ///< the connection guard: the server is not connected
/// From the middleware: the server's rights file does not grant this client the call in that
/// realm (tarnd --rights); nothing changed.
constexpr int kNotPermitted = 2026;
constexpr int kNoServerName = 3000;      ///< no server name given, and the middleware names none at "own"
constexpr int kIndexOutOfRange = 3007;   ///< a path index outside the element's items, or two indexes in one segment
/// The record is not valid: no value block, fewer bytes than its type or the field needs, or a
/// null record in a batch.
constexpr int kInvalidRecord = 3014;
constexpr int kNoContenderServer = 4003;  ///< GetContenderList: no server name (as 3000)
// Record field access (BrennicData).
constexpr int kRecordWithoutType = 4000;  ///< the record has no type, or CastType found none
constexpr int kValueTooSmall = 4001;      ///< DeepCopy: this record's block is smaller than the value
constexpr int kElementNotFound = 4002;    ///< a path names an element the type does not have
/// A path goes through or ends on an element whose type was unknown when it was defined.
constexpr int kUntypedElement = 4004;
// Counts and arrays of the batch operations, refused before anything is sent.
constexpr int kNegativeCount = 3015;  ///< a count argument below zero
constexpr int kNullArray = 3016;      ///< a null array with a count above zero
/// ContendHeartBit (record form) given a null contender name: nothing is started.
constexpr int kNullContenderName = 3020;

}  // namespace OstrelCode
