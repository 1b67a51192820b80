#pragma once

#include <utility>

namespace util {

// Owns one system resource (a file descriptor, a socket, a key, a kernel object, a COM
// interface ...) and gives it back with the system's own call when it goes. Traits say how:
//   using Handle = ...;                     the resource as the system hands it out
//   static constexpr Handle kInvalid = ...; what an empty owner holds
//   static void Close(Handle) noexcept;     gives the resource back
template <typename Traits>
class Owned {
public:
    using Handle = typename Traits::Handle;

    Owned() = default;
    explicit Owned(Handle handle) noexcept : handle_(handle) {}
    Owned(Owned&& other) noexcept : handle_(other.Release()) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { Reset(); }

    Handle Get() const noexcept { return handle_; }
    bool IsOpen() const noexcept { return handle_ != Traits::kInvalid; }
    explicit operator bool() const noexcept { return IsOpen(); }
    // For a call that hands out a new resource through a pointer: what was held goes first.
    Handle* Put() noexcept {
        Reset();
        return &handle_;
    }
    // Gives up ownership without closing.
    Handle Release() noexcept { return std::exchange(handle_, Traits::kInvalid); }
    // Closes what is held, unless it is the handle taken instead.
    void Reset(Handle handle = Traits::kInvalid) noexcept {
        if (IsOpen() && handle_ != handle) {
            Traits::Close(handle_);
        }
        handle_ = handle;
    }

private:
    Handle handle_ = Traits::kInvalid;
};

// Traits for a resource given back by one call of the system, with its empty value.
template <typename HandleType, auto CloseCall, HandleType Invalid = HandleType{}>
struct ClosedBy {
    using Handle = HandleType;
    static constexpr Handle kInvalid = Invalid;
    static void Close(Handle handle) noexcept { CloseCall(handle); }
};

}  // namespace util
