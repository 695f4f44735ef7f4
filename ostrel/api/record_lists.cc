#include "ostrel/api/record_lists.h"

#include "ostrel/api/ostrel.h"
#include "ostrel/data/record.h"

void OstrelOrigin::DestoryBrennicDataList(BrennicDataList* list) {
  if (list == nullptr) return;
  ostrel::releaseList(list->count, list->items);
}
