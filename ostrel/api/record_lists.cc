#include "ostrel/api/record_lists.h"

#include "ostrel/api/ostrel.h"
#include "ostrel/data/meta_data.h"
#include "ostrel/data/record.h"

void OstrelOrigin::DestoryBrennicDataList(BrennicDataList* list) {
  if (list == nullptr) return;
  ostrel::releaseList(list->count, list->items);
}

void OstrelOrigin::DestoryBrennicMetaList(BrennicMetaList* list) {
  if (list == nullptr) return;
  ostrel::releaseList(list->count, list->items);
}

BrennicMetaList::BrennicMetaList() : count(0), items(nullptr) {}

BrennicMetaList::~BrennicMetaList() {
  try {
    Ostrel::DestoryBrennicMetaList(this);
  } catch (...) {
    // A destructor must not throw; the items are released all the same.
    OstrelOrigin::DestoryBrennicMetaList(this);
  }
}
