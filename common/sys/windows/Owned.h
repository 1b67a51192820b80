#pragma once

#include <windows.h>

#include <utility>

namespace sys::win {

// Owns one system resource (a key, a module, a kernel object, a COM interface ...) and
// gives it back with the system's own call when it goes. An empty owner holds Handle{}.
template <typename Handle, auto Close>
class Owned {
public:
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
    explicit operator bool() const noexcept { return handle_ != Handle{}; }
    // For a call that hands out a new resource through a pointer: what was held goes first.
    Handle* Put() noexcept {
        Reset();
        return &handle_;
    }
    // Gives up ownership without closing.
    Handle Release() noexcept { return std::exchange(handle_, Handle{}); }
    void Reset(Handle handle = Handle{}) noexcept {
        if (handle_ != Handle{}) {
            Close(handle_);
        }
        handle_ = handle;
    }

private:
    Handle handle_{};
};

// COM interfaces are given back with their own Release.
template <typename Interface>
void ReleaseInterface(Interface* pointer) noexcept {
    pointer->Release();
}
template <typename Interface>
using ComPtr = Owned<Interface*, ReleaseInterface<Interface>>;

// A kernel object: a file, a process, a token.
using KernelHandle = Owned<HANDLE, ::CloseHandle>;
// A file as CreateFileA gives it, whose failure is INVALID_HANDLE_VALUE rather than null.
inline KernelHandle OwnFile(HANDLE file) {
    return KernelHandle(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

}  // namespace sys::win
