// An owner for a POSIX file descriptor, for the layer's own files.
#pragma once

#include <unistd.h>

// Closes the descriptor it holds (none: negative) when it goes out of scope, a throw included.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }
  // Closes now, reporting the error a delayed write may only show here.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return close(fd) == 0;
  }

 private:
  int fd_;
};
