#include "common/sys/SharedLibrary.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

#include "common/sys/FileTrust.h"
#include "common/sys/ProgramPath.h"

namespace sys {

namespace {

// The program's folder does not change while it runs, so it is read once.
const std::filesystem::path& CachedProgramFolder() {
    static const std::filesystem::path folder = ProgramFolder();
    return folder;
}

// The path handed to the loader: a bare name found beside the program becomes that file;
// anything else is left to the dynamic linker.
std::string ResolveName(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return name;
    }
    const std::filesystem::path& folder = CachedProgramFolder();
    if (folder.empty()) {
        return name;
    }
    const std::filesystem::path beside = folder / name;
    std::error_code error;
    return std::filesystem::is_regular_file(beside, error) ? beside.string() : name;
}

std::string LoaderError() {
    const char* reason = ::dlerror();
    return reason != nullptr ? reason : "unknown loader error";
}

}  // namespace

SharedLibrary SharedLibrary::Open(const std::string& name, std::string& error) {
    // The loader takes an empty name for the program itself.
    if (name.empty()) {
        error = "no library name";
        return SharedLibrary();
    }
    const std::string path = ResolveName(name);
    // A library that another owner holds is shared as it is: its file was checked when it
    // was loaded, and the loader finds it by its name without reading the file again.
    if (void* held = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD)) {
        return SharedLibrary(held);
    }
    // A library found by the dynamic linker's own search lies in the system's folders; one
    // named by its path is code the agent would run with the rights it has.
    if (path.find('/') != std::string::npos) {
        if (std::string reason = UntrustedFileReason(path); !reason.empty()) {
            error = std::move(reason);
            return SharedLibrary();
        }
    }
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        error = LoaderError();
    }
    return SharedLibrary(handle);
}

void* SharedLibrary::Symbol(const char* name, std::string& error) const {
    // The loader takes a null handle for the whole program.
    if (handle_ == nullptr) {
        error = "no library loaded";
        return nullptr;
    }
    ::dlerror();
    void* address = ::dlsym(handle_, name);
    if (address == nullptr) {
        error = LoaderError();
    }
    return address;
}

void SharedLibrary::Reset() noexcept {
    if (handle_ != nullptr) {
        ::dlclose(handle_);
        handle_ = nullptr;
    }
}

}  // namespace sys
