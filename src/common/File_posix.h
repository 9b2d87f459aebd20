#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

// Owns one file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

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
UniqueFd OpenRegularFile(const std::string& path);

// A folder of any length, opened for lookups only (O_PATH); invalid when it cannot be.
UniqueFd OpenFolder(const std::string& folder);

// stat() for a path of any length; false when there is nothing at the path.
bool StatPath(const std::string& path, struct stat& st);
