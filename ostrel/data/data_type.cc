#include "ostrel/data/data_type.h"

#include <memory>

#include "ostrel/data/field_path.h"

TarnDataType::TarnDataType(const char* name, unsigned short size)
    : name_(name != nullptr ? name : ""), size_(size) {}

TarnDataType::~TarnDataType() {
  for (auto& entry : elements_) delete entry.second;
  delete paths_.load(std::memory_order_acquire);
}

ostrel::data::PathCache& TarnDataType::pathCache() const {
  ostrel::data::PathCache* cache = paths_.load(std::memory_order_acquire);
  if (cache != nullptr) return *cache;
  auto fresh = std::make_unique<ostrel::data::PathCache>();
  // Two threads may both get here: one cache is kept, the other thread uses it and drops its own.
  if (paths_.compare_exchange_strong(cache, fresh.get(), std::memory_order_acq_rel,
                                     std::memory_order_acquire)) {
    return *fresh.release();
  }
  return *cache;
}

DataVariable* TarnDataType::GetElement(const char* name) {
  if (name == nullptr) return nullptr;
  return GetElement(std::string_view(name));
}

DataVariable* TarnDataType::GetElement(std::string_view name) const {
  auto it = elements_.find(name);
  return it != elements_.end() ? it->second : nullptr;
}

void TarnDataType::PushElement(const char* name, DataVariable* var) {
  if (var == nullptr) return;
  if (name == nullptr) {
    delete var;
    return;
  }
  auto inserted = elements_.emplace(name, var);
  if (!inserted.second) {
    delete var;
    return;
  }
  elementOrder_.emplace_back(name, var);
}

bool TarnDataType::getCache(const char* key, int& first, int& second) {
  if (key == nullptr) return false;
  auto it = cache_.find(std::string_view(key));
  if (it == cache_.end()) return false;
  first = it->second.first;
  second = it->second.second;
  return true;
}

void TarnDataType::setCache(const char* key, int first, int second) {
  if (key == nullptr) return;
  cache_[key] = std::make_pair(first, second);
}
