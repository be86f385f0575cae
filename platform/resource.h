// Owners of the platform's handles: each closes what it holds when it goes out of scope, so a
// resource is released on every path on which it was acquired.
#pragma once

#include <memory>

#include "platform/win32.h"

// Owns a handle whose "none" value is `Invalid`, released with `Close`. Move-only.
template <typename Handle, auto Close, auto Invalid>
class unique_handle {
 public:
  unique_handle() = default;
  explicit unique_handle(Handle handle) : handle_(handle) {}
  unique_handle(unique_handle&& other) noexcept : handle_(other.release()) {}
  unique_handle& operator=(unique_handle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  unique_handle(const unique_handle&) = delete;
  unique_handle& operator=(const unique_handle&) = delete;
  ~unique_handle() { reset(); }

  explicit operator bool() const { return handle_ != Invalid(); }
  Handle get() const { return handle_; }
  // Closes what is held and returns the place where a call stores a new handle.
  Handle* put() {
    reset();
    return &handle_;
  }
  Handle release() {
    Handle handle = handle_;
    handle_ = Invalid();
    return handle;
  }
  void reset(Handle handle = Invalid()) {
    if (handle_ != Invalid()) Close(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = Invalid();
};

namespace resource_detail {
// FindFirstFileA reports failure as INVALID_HANDLE_VALUE, not as a null handle.
inline HANDLE InvalidFind() {
  return INVALID_HANDLE_VALUE;
}
inline HKEY NoKey() {
  return nullptr;
}
inline void CloseFind(HANDLE find) {
  FindClose(find);
}
inline void CloseKey(HKEY key) {
  RegCloseKey(key);
}
struct HeapDeleter {
  void operator()(void* block) const { HeapFree(GetProcessHeap(), 0, block); }
};
}  // namespace resource_detail

// An open directory enumeration, closed with FindClose.
using unique_hfind =
    unique_handle<HANDLE, resource_detail::CloseFind, resource_detail::InvalidFind>;
// An open registry key, closed with RegCloseKey.
using unique_hkey = unique_handle<HKEY, resource_detail::CloseKey, resource_detail::NoKey>;
// A string on the process heap.
using unique_heap_str = std::unique_ptr<char[], resource_detail::HeapDeleter>;
