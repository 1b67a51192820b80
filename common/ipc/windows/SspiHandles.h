#pragma once

#define SECURITY_WIN32
#include <windows.h>
// The SSPI declarations need the Windows types first.
#include <security.h>

#include <memory>

namespace ipc::win {

// Owns one SSPI handle, credentials or a security context, and gives it back with Free when
// it goes. The handle counts as made only once Keep says the call that made it succeeded.
template <auto Free>
class SspiHandle {
public:
    SspiHandle() = default;
    SspiHandle(const SspiHandle&) = delete;
    SspiHandle& operator=(const SspiHandle&) = delete;
    ~SspiHandle() { Reset(); }

    // For the call that makes a new handle; what was held goes first.
    PSecHandle Put() noexcept {
        Reset();
        return &handle_;
    }
    void Keep(bool made) noexcept { made_ = made; }
    PSecHandle Get() noexcept { return made_ ? &handle_ : nullptr; }
    explicit operator bool() const noexcept { return made_; }
    void Reset() noexcept {
        if (made_) {
            Free(&handle_);
            made_ = false;
        }
    }

private:
    SecHandle handle_{};
    bool made_ = false;
};

using Credentials = SspiHandle<::FreeCredentialsHandle>;
using SecurityContext = SspiHandle<::DeleteSecurityContext>;

// A buffer the security package allocated (ISC_REQ_ALLOCATE_MEMORY).
struct ContextBufferDeleter {
    void operator()(void* buffer) const noexcept { ::FreeContextBuffer(buffer); }
};
using ContextBuffer = std::unique_ptr<void, ContextBufferDeleter>;

}  // namespace ipc::win
