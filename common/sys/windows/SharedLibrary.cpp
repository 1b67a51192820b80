#include "common/sys/SharedLibrary.h"

#include <windows.h>

#include <algorithm>

#include "common/sys/windows/SystemMessage.h"

namespace sys {

namespace {

std::string LoaderError(const std::string& subject) {
    return subject + ": " + win::SystemMessage(::GetLastError());
}

}  // namespace

// The loader's standard search begins in the program's folder, so a bare name needs no
// help to be found there first.
SharedLibrary SharedLibrary::Open(const std::string& name, std::string& error) {
    if (name.empty()) {
        error = "no library name";
        return SharedLibrary();
    }
    // The loader takes forward slashes in some places only.
    std::string path = name;
    std::replace(path.begin(), path.end(), '/', '\\');
    const HMODULE module = ::LoadLibraryA(path.c_str());
    if (module == nullptr) {
        error = LoaderError(name);
    }
    return SharedLibrary(module);
}

void* SharedLibrary::Symbol(const char* name, std::string& error) const {
    if (handle_ == nullptr) {
        error = "no library loaded";
        return nullptr;
    }
    const FARPROC address = ::GetProcAddress(static_cast<HMODULE>(handle_), name);
    if (address == nullptr) {
        error = LoaderError(name);
    }
    return reinterpret_cast<void*>(address);
}

void SharedLibrary::Reset() noexcept {
    if (handle_ != nullptr) {
        ::FreeLibrary(static_cast<HMODULE>(handle_));
        handle_ = nullptr;
    }
}

}  // namespace sys
