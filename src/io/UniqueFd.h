#pragma once

#include <unistd.h>

#include <utility>

namespace io {

// Owns a file descriptor; -1 holds none.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        UniqueFd(std::move(other)).swap(*this);
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Gives the descriptor up to a new owner.
    int release() { return std::exchange(fd_, -1); }
    void swap(UniqueFd& other) noexcept { std::swap(fd_, other.fd_); }

  private:
    int fd_ = -1;
};

}  // namespace io
