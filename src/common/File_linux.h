#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <string_view>

// Owns one file descriptor.
class TUniqueFd {
 public:
  TUniqueFd() = default;
  explicit TUniqueFd(int fd) : fd_(fd) {}
  ~TUniqueFd() { Reset(); }
  TUniqueFd(TUniqueFd&& other) noexcept : fd_(other.Release()) {}
  TUniqueFd& operator=(TUniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  TUniqueFd(const TUniqueFd&) = delete;
  TUniqueFd& operator=(const TUniqueFd&) = delete;

  [[nodiscard]] int Get() const { return fd_; }
  [[nodiscard]] bool Valid() const { return fd_ >= 0; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// The path opened for reading only if it is a regular file; a FIFO or a device is never
// waited on or read from. Invalid for anything else. Paths longer than the system takes in
// one call (PATH_MAX) are opened one folder at a time.
TUniqueFd OpenRegularFile(const std::string& path);

// A folder of any length, opened for lookups only (O_PATH); invalid when it cannot be.
TUniqueFd OpenFolder(const std::string& folder);

// stat() for a path of any length; false when there is nothing at the path.
bool StatPath(const std::string& path, struct stat& st);

// All the bytes written, again after a signal or a short write; false (errno set) when not.
bool WriteAll(int fd, std::string_view bytes);
