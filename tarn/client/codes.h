// Result codes of the middleware (2000-2999), one text each in codes.cc. The codes 2012 and
// 2015 are the client library's own and are not used here.
#pragma once

#include "ostrel/api/middleware/kxTarn_API.h"

namespace tarn {

constexpr int kOk = 0;
constexpr int kUnknownServer = 2001;        // no such server in the settings
constexpr int kServerNotAnswering = 2002;   // the server did not answer
constexpr int kNoSuchObject = 2003;         // no data point, port or event box of that name
constexpr int kReceiveRefused = 2004;       // receive connection refused for a passing reason; retry
constexpr int kAlreadyExists = 2005;
constexpr int kSizeMismatch = KX_SIZE_MISMATCH;  // a value's size differs from its type's size
constexpr int kUnknownType = 2007;
constexpr int kNothingReceived = 2008;      // the wait ended with nothing to receive
constexpr int kSettingsNotWritable = 2009;
constexpr int kBadArgument = 2010;          // a null or malformed argument
constexpr int kBadHandle = 2011;
constexpr int kNoSuchSnapshot = 2013;
constexpr int kFileError = 2014;
constexpr int kRemoteFailure = 2016;        // the remote call raised an exception
constexpr int kBufferTooSmall = 2017;
constexpr int kEventCodeRefused = 2018;     // the box does not take that event code
constexpr int kBoxFull = 2019;            // an event box or port queue is full
constexpr int kNoServerNamed = 2020;        // no server given and none at position "own"
constexpr int kNoSuchField = 2021;
constexpr int kOverBudget = 2022;           // the server holds as many of these as its budget allows
constexpr int kRealmNotEmpty = 2023;        // the realm still holds data points or channels
constexpr int kNoRequest = 2024;            // a reply where no received packet awaits one
constexpr int kNotPermitted = 2026;         // the server's rights file does not grant this client that in this realm
constexpr int kClientEnded = KX_CLIENT_ENDED;  // the middleware client was ended while the call waited
constexpr int kNotSupported = 2030;         // this server does not offer the operation
constexpr int kNotKept = 2035;              // in effect, not yet in the journal (journal.h)
constexpr int kSettingsUnusable = KX_SETTINGS_UNUSABLE;  // TARN_SETTINGS names a file that cannot be used
constexpr int kScriptNothingToRun = 2040;
constexpr int kScriptBadLine = 2041;
constexpr int kScriptNotRunning = 2042;
constexpr int kScriptStopped = 2043;
constexpr int kBadFileName = 2050;       // a snapshot file name that leaves the data folder
constexpr int kSnapshotDamaged = 2051;   // a snapshot file cut short or corrupt
constexpr int kSnapshotTooNew = 2052;    // a snapshot file of a newer format version

}  // namespace tarn
