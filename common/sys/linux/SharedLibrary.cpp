#include "common/sys/SharedLibrary.h"

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>
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

// The libraries this process holds through SharedLibrary, by handle: the path each was first
// opened by and how many owners hold it. Opening and freeing take the lock, so a library
// counted here stays loaded until the last owner's free, which is what lets a held library be
// opened again without its file being read or checked.
struct Held {
    std::string path;
    std::size_t owners = 0;
};
std::mutex heldLock;
std::map<void*, Held> held;

// With heldLock taken: a library of that path still held, opened once more; null when none is.
void* OpenHeld(const std::string& path) {
    const bool isHeld = std::any_of(
        held.begin(), held.end(), [&path](const auto& entry) { return entry.second.path == path; });
    // Found by the name it was opened with, so the loader does not open the file either: a
    // file that may not be trusted any more (a pipe that never answers, say) is not touched.
    return isHeld ? ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD) : nullptr;
}

// With heldLock taken: one owner more of a library opened by that path.
void* Keep(void* handle, const std::string& path) {
    Held& entry = held[handle];
    if (entry.owners++ == 0) {
        entry.path = path;
    }
    return handle;
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
    const std::lock_guard guard(heldLock);
    // A library that another owner holds is shared as it is: its file was checked when it
    // was loaded.
    if (void* handle = OpenHeld(path)) {
        return SharedLibrary(Keep(handle, path));
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
        return SharedLibrary();
    }
    return SharedLibrary(Keep(handle, path));
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
    if (handle_ == nullptr) {
        return;
    }
    const std::lock_guard guard(heldLock);
    if (const auto entry = held.find(handle_); entry != held.end() && --entry->second.owners == 0) {
        held.erase(entry);
    }
    ::dlclose(handle_);
    handle_ = nullptr;
}

}  // namespace sys
