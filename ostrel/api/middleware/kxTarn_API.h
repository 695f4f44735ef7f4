/// @file
/// The middleware's flat client API, as the library uses it.
///
/// Every function returns an int result code (0 success; 2000-2999 middleware failures, texts
/// from get_error_string) unless said otherwise, takes texts as const char* and ends with
/// (server, position): a null or empty server is the server at position "own" of the settings,
/// and the position is the realm inside that server (null or empty: the default realm).
/// A buffer is a char* plus an unsigned length. Out buffers are allocated with the global
/// operator new: the caller frees them with kx_free_buffer or hands them to
/// a record, which frees them the same way. Out texts of get_dtp_info2 are CORBA strings.
/// All functions may be called from any thread.
#pragma once

#include <cstddef>

#include "ostrel/api/name_lists.h"

/// @def KXTARN_API
/// Marks what the middleware's client library exports (dllimport for its users on Windows).
#if defined(_WIN32)
#  if defined(KXTARN_STATIC)
#    define KXTARN_API
#  else
#    define KXTARN_API __declspec(dllimport)
#  endif
#else
#  define KXTARN_API __attribute__((visibility("default")))
#endif

/// Result of kx_get_servername: a 168-byte record; callers read only `found` and `name`.
struct kxServerName {
  int found;            ///< nonzero when the settings name a server at the position
  const char* name;     ///< middleware-owned; valid until the settings are read again
  char reserved[152];   ///< not read
};
static_assert(sizeof(kxServerName) == 168, "kxServerName is a 168-byte record");

/// The code of kx_tarn_connect when TARN_SETTINGS names a file that cannot be used (the middleware
/// then knows no server); get_error_string(KX_SETTINGS_UNUSABLE) names the file, line and cause.
#define KX_SETTINGS_UNUSABLE 2036
/// A value whose size is not the one the receiver asked for.
#define KX_SIZE_MISMATCH 2006
/// A wait ended because the middleware client was ended.
#define KX_CLIENT_ENDED 2025

/// @name Connection and naming
///@{

/// Connects `server` (null or empty: the server at "own"): 0, or why not.
KXTARN_API int kx_tarn_connect(const char* server);
/// The server that the settings place at `position` (found 0 when none).
KXTARN_API kxServerName kx_get_servername(const char* position);
/// The text of any result code; the library keeps it for the life of the process.
KXTARN_API const wchar_t* get_error_string(int code);
/// Frees an out buffer of this API (global operator delete).
KXTARN_API void kx_free_buffer(char* buffer);
/// This process as servers name it in their listings and per-process shares: "HOST:PID".
KXTARN_API const char* kx_process_name();
///@}

/// @name Data points
///@{

/// Reads point `name` into `buffer`, which takes exactly `length` bytes.
KXTARN_API int kx_get_data_template_point(const char* name, char* buffer, unsigned int length,
                                          const char* server, const char* position);
/// Writes the `length` bytes of `buffer` to point `name`.
KXTARN_API int kx_set_data_template_point(const char* name, const char* buffer, unsigned int length,
                                          const char* server, const char* position);
/// Reads point `name`: its text and type name (CORBA strings) and a new buffer with its value.
KXTARN_API int get_dtp_info2(const char* name, char** text, char** typeName, char** buffer,
                             unsigned int* length, const char* server, const char* position);
/// Returns the type name of a point as a new[]-allocated text (the caller delete[]s it), or null.
KXTARN_API char* kx_get_data_template_point_type(const char* pointName, const char* server,
                                                 const char* position);
/// Creates point `name` of type `typeName`, its value zeroed.
KXTARN_API int kx_create_data_template_point(const char* name, const char* typeName,
                                             const char* server, const char* position);
/// Creates point `name` of type `typeName` with the `length` bytes of `buffer`.
KXTARN_API int kx_create_set(const char* name, const char* typeName, const char* buffer,
                             unsigned int length, const char* server, const char* position);
/// Deletes point `name`.
KXTARN_API int kx_remove_template_point(const char* name, const char* server, const char* position);
/// Lists the points never written since they were created (release with DeatoryNameSeq).
KXTARN_API int kx_check_null_data(ObjectNames* names, const char* server, const char* position);
/// Lists every point of the realm (release with DeatoryNameSeq).
KXTARN_API int kx_get_all_point_name(ObjectNames* names, const char* server, const char* position);
/// Lists the points of type `typeName` (release with DeatoryNameSeq).
KXTARN_API int kx_get_all_point_by_typename(ObjectNames* names, const char* typeName,
                                            const char* server, const char* position);
/// Lists the data types of the type service (release with DeatoryNameSeq).
KXTARN_API int kx_get_query_data_type(ObjectNames* names, const char* server, const char* position);
///@}

/// @name Realms, channels, connections
///@{

/// Lists the realms of `server` (release with DeatoryNameSeq).
KXTARN_API int kx_releam_seq(ObjectNames* names, const char* server);
/// Removes an empty realm of `server`: 0; 2023 when it holds points or channels, 2003 when there
/// is no such realm, 2010 for the default realm (null or empty).
KXTARN_API int kx_delete_releam(const char* server, const char* realm);
/// Lists the ports and event boxes of the realm (release with DeatoryNameSeq).
KXTARN_API int kx_com_chennal_seq(ObjectNames* names, const char* server, const char* position);
/// Lists the open connections of the realm (release with kx_destory_connection_seq).
KXTARN_API int kx_get_connection_info(ConnectionSequence* connections, const char* server,
                                      const char* position);
/// Releases what kx_get_connection_info put into `connections` and empties it.
KXTARN_API void kx_destory_connection_seq(ConnectionSequence* connections);
///@}

/// @name Looking at a queue
///@{

/// One value of a look at a queue (kx_peek_channel).
struct kxPeekedValue {
  unsigned int position;  ///< its queue position (0 is the front)
  char* buffer;           ///< its bytes, from operator new
  unsigned int length;    ///< how many bytes
};
/// A look at the queue of a port or event box that takes nothing. Filled by kx_peek_channel,
/// emptied by kx_destory_peeked (a filler overwrites what the struct held: empty it first).
struct kxPeekedValues {
  int count = 0;                   ///< how many items
  unsigned int held = 0;           ///< how many values the queue holds
  kxPeekedValue* items = nullptr;  ///< the values looked at, in queue order
};
/// The most values one look answers.
#define KX_PEEK_MOST 1000
/// Up to `count` (1 to KX_PEEK_MOST) values of port (kind 30005) or box (30006) `name` from queue
/// position `from` on, in queue order, fewer when they would not fit one answer; the queue stays
/// as it was and no receiver is disturbed. 2003 when there is no such port or box, 2010 for a
/// null name or struct, another kind or a count out of range.
KXTARN_API int kx_peek_channel(const char* name, int kind, unsigned int from, int count, kxPeekedValues* values,
                               const char* server, const char* position);
/// Frees what kx_peek_channel put into `values` and empties it.
KXTARN_API void kx_destory_peeked(kxPeekedValues* values);
///@}

/// @name Snapshot files
/// (file, option): the file is a path on the server, relative to its data folder.
///@{

/// Writes the data points of realm `option` to snapshot file `file`.
KXTARN_API int kx_make_dtp_snapshot(const char* file, const char* option);
/// Writes the type definitions of type service instance `option` to snapshot file `file`.
KXTARN_API int kx_make_dt_snapshot(const char* file, const char* option);
/// Writes the ports and boxes of realm `option` to snapshot file `file`.
KXTARN_API int kx_make_port_snapshot(const char* file, const char* option);
/// Loads the data points of snapshot file `file` into realm `option`.
KXTARN_API int kx_load_dtp_snapshot(const char* file, const char* option);
/// Checks type snapshot file `file` against type service instance `option`.
KXTARN_API int kx_load_dt_snapshot(const char* file, const char* option);
/// Loads the ports and boxes of snapshot file `file` into realm `option`.
KXTARN_API int kx_load_port_snapshot(const char* file, const char* option);
/// The named data point snapshots of a realm and the snapshot files in the server's folder
/// (both sorted; release each with DeatoryNameSeq).
KXTARN_API int kx_list_snapshots(ObjectNames* named, ObjectNames* files, const char* server,
                                 const char* position);
///@}

/// @name Ports and event boxes
/// kind: 30005 packet port, 30006 event box. direction: 30003 send, 30004 receive. Time-outs in
/// milliseconds: 0 do not wait, negative wait without limit.
///@{

/// Creates port or box `name` of `kind`; `size` is a box's capacity in events.
KXTARN_API int kx_create_port(const char* name, int kind, int size, const char* server,
                              const char* position);
/// Opens a connection to `name` in `direction`; its handle into `*handle`.
KXTARN_API int kx_connect_port(const char* name, unsigned int* handle, int direction, int mode,
                               unsigned int* extra, const char* server, const char* position);
/// Closes connection `handle`; what is in flight on it goes back to its queue.
KXTARN_API int kx_disconenct_port(unsigned int handle, const char* server, const char* position);
/// Makes box `boxName` take event code `eventCode`.
KXTARN_API int kx_add_event(const char* boxName, int eventCode, const char* server,
                            const char* position);
/// Removes every event queued in box `boxName`.
KXTARN_API int kx_clear_event(const char* boxName, const char* server, const char* position);
/// The number of events queued in box `boxName` into `*count`.
KXTARN_API int kx_event_count(const char* boxName, unsigned int* count, const char* server,
                              const char* position);
/// Queues the `length` bytes of `buffer` as an event in box `boxName`.
KXTARN_API int kx_send_event(const char* boxName, const char* buffer, unsigned int length,
                             const char* server, const char* position);
/// Queues the `length` bytes of `buffer` as an event in every box that takes `eventCode`.
KXTARN_API int kx_declare_event(int eventCode, const char* buffer, unsigned int length,
                                const char* server, const char* position);
/// Queues a packet through send connection `handle`.
KXTARN_API int kx_send_packet(unsigned int handle, const char* buffer, unsigned int length,
                              int option, const char* server, const char* position);
/// Queues a packet at the front of the port, through send connection `handle`.
KXTARN_API int kx_send_packet_to_front(unsigned int handle, const char* buffer, unsigned int length,
                                       int option, const char* server, const char* position);
/// Queues the reply to the packet received with `replyHandle`.
KXTARN_API int kx_reply_packet(unsigned int replyHandle, const char* buffer, unsigned int length,
                               int option, const char* server, const char* position);
///@}

/// @name Receives and reply waits
/// A negative timeout waits without limit; every wait ends early, with KX_CLIENT_ENDED, once the
/// middleware client is ended (kxNaming_Client::ExitInstance). The fixed-buffer forms take only a
/// value of exactly `capacity` bytes: a longer one is refused with 2017, a shorter one with
/// KX_SIZE_MISMATCH; what is refused stays queued.
///@{

/// Receives the next value of receive connection `handle` into `buffer` (exactly `capacity` bytes).
KXTARN_API int kx_receive_packet(unsigned int handle, unsigned int* sender, char* buffer,
                                 unsigned int capacity, int timeout, const char* server,
                                 const char* position);
/// Receives the next packet of receive connection `handle` into a new buffer.
KXTARN_API int kx_receive_packetv(unsigned int handle, unsigned int* sender, char** buffer,
                                  unsigned int* length, int timeout, const char* server,
                                  const char* position);
/// As kx_receive_packetv, refusing (KX_SIZE_MISMATCH, left queued) a packet shorter than `least`.
KXTARN_API int kx_receive_packet_least(unsigned int handle, unsigned int* sender, char** buffer,
                                       unsigned int* length, unsigned int least, int timeout,
                                       const char* server, const char* position);
/// Waits for the reply on send connection `handle` into `buffer` (exactly `capacity` bytes).
KXTARN_API int kx_receive_reply(unsigned int handle, char* buffer, unsigned int capacity,
                                int timeout, const char* server, const char* position);
/// Waits for the reply on send connection `handle` into a new buffer.
KXTARN_API int kx_receive_reply2(unsigned int handle, char** buffer, unsigned int* length,
                                 int timeout, const char* server, const char* position);
/// As kx_receive_reply2, refusing (KX_SIZE_MISMATCH, left queued) a reply shorter than `least`.
KXTARN_API int kx_receive_reply_least(unsigned int handle, char** buffer, unsigned int* length,
                                      unsigned int least, int timeout, const char* server,
                                      const char* position);
///@}

/// @name Heartbeat contention
///@{

/// Registers contender `contenderName` of `hostName` with a record value.
KXTARN_API int kx_regist_contender(const char* hostName, const char* contenderName,
                                   const char* buffer, unsigned int length, const char* typeName,
                                   int startTime, const char* server, const char* position);
/// Beats for contender `contenderName` of `hostName` (registers it when it is not).
KXTARN_API int kx_update_contender(const char* hostName, const char* contenderName,
                                   const char* moduleName, const char* server,
                                   const char* position);
/// Leaves the registration of (hostName, contenderName) when this process holds it, or, on behalf
/// of another process or host, when `moduleName` names the registration's module (2003
/// otherwise: no caller ends a registration it cannot name whole).
KXTARN_API int kx_out_contend(const char* hostName, const char* contenderName,
                              const char* moduleName, const char* server, const char* position);
/// Leaves the registration of (hostName, contenderName) only when this process holds it: what a
/// contender's own leave sends, so that a process refused under a name never ends the holder's.
KXTARN_API int kx_leave_contend(const char* hostName, const char* contenderName,
                                const char* moduleName, const char* server, const char* position);
///@}
