#pragma once

#include <cstdint>

namespace orbisan {

// Shared ownership with a small, non-atomic count: copies must stay under
// the owner's lock or on one thread. At most 127 holders share an object; a
// copy beyond that comes out empty rather than overflowing the count.
template <typename T>
class TSmartPtr {
 public:
  TSmartPtr() = default;
  explicit TSmartPtr(T* object) {
    if (object != nullptr) {
      count_ = new int8_t(1);
      object_ = object;
    }
  }
  TSmartPtr(const TSmartPtr& other) { CopyFrom(other); }
  TSmartPtr& operator=(const TSmartPtr& other) {
    if (this != &other && object_ != other.object_) {
      Release();
      CopyFrom(other);
    }
    return *this;
  }
  virtual ~TSmartPtr() { Release(); }

  void Reset(T* object = nullptr) {
    Release();
    if (object != nullptr) {
      count_ = new int8_t(1);
      object_ = object;
    }
  }
  // GCC cannot tell that a shared count reaches zero only once and warns about
  // a use after free when two holders are released in a row.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuse-after-free"
#endif
  void Release() {
    int8_t* count = count_;
    T* object = object_;
    count_ = nullptr;
    object_ = nullptr;
    if (count != nullptr && *count > 0 && --*count == 0) {
      delete object;
      delete count;
    }
  }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

  T* Get() const { return object_; }
  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }
  explicit operator bool() const { return object_ != nullptr; }
  int8_t UseCount() const { return count_ ? *count_ : 0; }

 private:
  void CopyFrom(const TSmartPtr& other) {
    if (other.count_ != nullptr && *other.count_ > 0 && *other.count_ < 127) {
      ++*other.count_;
      count_ = other.count_;
      object_ = other.object_;
    }
  }

  int8_t* count_ = nullptr;
  T* object_ = nullptr;
};

}  // namespace orbisan
