#pragma once

#include <cstdint>
#include <memory>

namespace orbisan {

// One missing interval of one channel (file times, 100 ns units).
struct CEdgeStorageTaskItem {
  virtual ~CEdgeStorageTaskItem() = default;

  // Null unless begin is set and lies before end.
  static std::unique_ptr<CEdgeStorageTaskItem> Create(uint32_t key, uint64_t begin, uint64_t end) {
    if (begin == 0 || begin >= end) return nullptr;
    return std::unique_ptr<CEdgeStorageTaskItem>(new CEdgeStorageTaskItem(key, begin, end));
  }

  uint32_t key;
  uint64_t begin;
  uint64_t end;

 private:
  CEdgeStorageTaskItem(uint32_t k, uint64_t b, uint64_t e) : key(k), begin(b), end(e) {}
};

}  // namespace orbisan
