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
  // Keeps the thread's last error across the close, so that the error a caller reports is the
  // one that decided its outcome, not the close's.
  void reset(Handle handle = Invalid()) {
    if (handle_ != Invalid()) {
      const DWORD error = GetLastError();
      Close(handle_);
      SetLastError(error);
    }
    handle_ = handle;
  }

 private:
  Handle handle_ = Invalid();
};

namespace resource_detail {
// FindFirstFileA and CreateFileA report failure as INVALID_HANDLE_VALUE, not as a null handle.
inline HANDLE InvalidHandle() {
  return INVALID_HANDLE_VALUE;
}
inline HKEY NoKey() {
  return nullptr;
}
inline void CloseFile(HANDLE file) {
  CloseHandle(file);
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
    unique_handle<HANDLE, resource_detail::CloseFind, resource_detail::InvalidHandle>;
// An open file or directory, closed with CloseHandle.
using unique_hfile =
    unique_handle<HANDLE, resource_detail::CloseFile, resource_detail::InvalidHandle>;
// An open registry key, closed with RegCloseKey.
using unique_hkey = unique_handle<HKEY, resource_detail::CloseKey, resource_detail::NoKey>;
// A string on the process heap.
using unique_heap_str = std::unique_ptr<char[], resource_detail::HeapDeleter>;
