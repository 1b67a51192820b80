#pragma once

#include <string>
#include <utility>

namespace sys {

// Owns one reference to a loaded shared library and gives it back when it goes. The system
// counts references, so several owners of the same library, on any threads, are fine; the
// library leaves memory with the last of them.
class SharedLibrary {
public:
    SharedLibrary() = default;
    SharedLibrary(SharedLibrary&& other) noexcept
        : handle_(std::exchange(other.handle_, nullptr)) {}
    SharedLibrary& operator=(SharedLibrary&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;
    ~SharedLibrary() { Reset(); }

    // Loads the library with every symbol resolved at once. A name without a folder (no "/",
    // on Windows no "\\" either) is looked for in the program's folder first and then in the
    // system's own folders (on Windows System32 alone: never the current folder or PATH,
    // for the library and for what it imports). A library named by its path that the agent
    // may not trust (see UntrustedFileReason) is not loaded. When the library cannot be
    // loaded the result holds nothing and error gets the reason.
    static SharedLibrary Open(const std::string& name, std::string& error);

    bool IsOpen() const noexcept { return handle_ != nullptr; }
    // Whether both hold the same loaded library.
    bool SameAs(const SharedLibrary& other) const noexcept {
        return IsOpen() && handle_ == other.handle_;
    }
    // The address of an exported symbol; null, with the loader's reason in error, when the
    // library does not export it.
    void* Symbol(const char* name, std::string& error) const;
    // Gives the reference back; the object then holds nothing.
    void Reset() noexcept;

private:
    explicit SharedLibrary(void* handle) noexcept : handle_(handle) {}

    void* handle_ = nullptr;
};

}  // namespace sys
