/// @file
/// Server settings: where the middleware's servers are found, as the naming client, the reference
/// container and the settings store know it.
///
/// The operations (activeServer, GetServerAddress, GetServerNames, setFixedAddress, SetNewTarget,
/// updateServerSetting, setMasterMiddleware) are declared in ostrel/api/ostrel.h; none of them runs
/// the connection guard. This header adds the list that GetServerNames fills and the helper that
/// fills a settings record. All may be called from any thread.
#pragma once

#include <cstddef>

#include "ostrel/api/export.h"

struct _ServerInfoData;

/// The server names at one position, filled by Ostrel::GetServerNames. The texts belong to the
/// middleware's reference container and stay valid until its settings are read again
/// (updateServerSetting); nothing is allocated, so there is nothing to release. Plain value: copy
/// and assign freely.
struct OSTREL_EXPORT BrennicServerList {
  /// The most names the list holds; GetServerNames fills at most this many.
  static constexpr int kCapacity = 64;

  int count = 0;                      ///< number of names filled in
  const char* names[kCapacity] = {};  ///< the names, in the order received; not owned
};

namespace ostrel {

/// Copies `text` (null: nothing) into the fixed field `field` of `size` bytes, cut to fit with its
/// NUL and never in the middle of a UTF-8 sequence; the rest of the field is zero-filled.
void copyCut(char* field, std::size_t size, const char* text);

/// The settings record that updateServerSetting stores: `serverName` as given, the first address
/// when not null, the second when neither null nor empty; `twoAddresses` only when both are stored.
/// Texts too long for their fields are cut.
void fillServerInfo(_ServerInfoData& record, const char* serverName, const char* firstAddress,
                    const char* secondAddress);

}  // namespace ostrel
