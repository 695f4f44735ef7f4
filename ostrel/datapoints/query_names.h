/// @file
/// Names for the records of a query answer. QueryDataPoint hands back values only (the server's
/// query answers no names), so a program that shows the answer names each record after the point
/// of the type that holds its value. Header-only, over the public operations; call it from any
/// thread that may call them, with the answer owned by that thread.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "ostrel/api/name_lists.h"
#include "ostrel/api/ostrel.h"
#include "ostrel/api/record_lists.h"
#include "ostrel/data/record.h"

namespace OstrelExt {

/// Gives each record of `answer` (a QueryDataPoint answer for `typeName`) the name of the point
/// of that type whose value it holds, reading the type's points once; records of equal values
/// take the names of equal points in listing order. A record whose value no point holds any more
/// (changed since the query) keeps no name. Returns 0, or the code of the listing or the read
/// (the answer then stays unnamed).
inline int nameQueryAnswer(BrennicDataList& answer, const char* typeName, const char* server, const char* position) {
  if (answer.count <= 0 || typeName == nullptr) return 0;
  ObjectNames listed;
  int rc = Ostrel::GetAllPointNameByType(&listed, typeName, server, position);
  if (rc != 0) return rc;
  const std::vector<std::string> candidates(listed.names, listed.names + listed.count);
  Ostrel::DeatoryNameSeq(&listed);
  BrennicDataList points;
  rc = candidates.empty() ? 0 : Ostrel::GetDataPointN(candidates, points, server, position);
  std::vector<bool> taken(static_cast<std::size_t>(points.count > 0 ? points.count : 0), false);
  for (int i = 0; rc == 0 && i < answer.count; ++i) {
    BrennicData* wanted = answer.items[i];
    if (wanted == nullptr) continue;
    for (int j = 0; j < points.count; ++j) {
      BrennicData* point = points.items[j];
      if (taken[static_cast<std::size_t>(j)] || point == nullptr || point->GetBufferSize() != wanted->GetBufferSize() ||
          std::memcmp(point->GetRawValue(), wanted->GetRawValue(), wanted->GetBufferSize()) != 0)
        continue;
      taken[static_cast<std::size_t>(j)] = true;
      wanted->SetFullName(point->GetDataName());
      break;
    }
  }
  Ostrel::DestoryBrennicDataList(&points);
  return rc;
}

}  // namespace OstrelExt
