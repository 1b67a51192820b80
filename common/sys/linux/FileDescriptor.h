#pragma once

#include <utility>

namespace sys {

// Owns one open file descriptor and closes it when it goes.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.Release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { Reset(); }

    int Get() const noexcept { return fd_; }
    bool IsOpen() const noexcept { return fd_ >= 0; }
    explicit operator bool() const noexcept { return IsOpen(); }
    // Gives up ownership without closing.
    int Release() noexcept { return std::exchange(fd_, -1); }
    // Closes the descriptor held and takes fd instead.
    void Reset(int fd = -1) noexcept;

private:
    int fd_ = -1;
};

}  // namespace sys
