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

// The file beside the program that a bare name stands for; empty for a name with a folder or
// when the program's folder is not known.
std::string BesideProgram(const std::string& name) {
    const std::filesystem::path& folder = CachedProgramFolder();
    if (name.find('/') != std::string::npos || folder.empty()) {
        return {};
    }
    return (folder / name).string();
}

// The path handed to the loader: a bare name found beside the program becomes that file;
// anything else is left to the dynamic linker.
std::string ResolveName(const std::string& name) {
    std::string beside = BesideProgram(name);
    std::error_code error;
    return !beside.empty() && std::filesystem::is_regular_file(beside, error) ? beside : name;
}

// The libraries this process holds through SharedLibrary, by the path each was loaded by: the
// loader's handle, of which the registry keeps one reference, and how many owners hold it.
// Opening and freeing take the lock, so a library counted here stays loaded until the last
// owner's free; a held library is shared by counting one owner more, without asking the
// loader (whose lock every load, free and symbol lookup would otherwise take) and without its
// file being read or checked again.
struct Held {
    void* handle = nullptr;
    std::size_t owners = 0;
};
std::mutex heldLock;
std::map<std::string, Held, std::less<>> held;

// With heldLock taken: the entry of a held library that name would be loaded from, or null.
// A bare name is looked for as the file beside the program first, as ResolveName does, so a
// held library costs no status query of its file.
Held* FindHeld(const std::string& name) {
    if (const std::string beside = BesideProgram(name); !beside.empty()) {
        if (const auto entry = held.find(beside); entry != held.end()) {
            return &entry->second;
        }
    }
    const auto entry = held.find(name);
    return entry != held.end() ? &entry->second : nullptr;
}

// With heldLock taken: the entry of the library the loader gave that handle for.
auto HeldByHandle(void* handle) {
    return std::find_if(held.begin(), held.end(),
                        [handle](const auto& entry) { return entry.second.handle == handle; });
}

// With heldLock taken: one owner more of a library the loader has just opened by that path.
// The registry keeps one reference per library, so a second path to a library already held
// gives its reference back and counts on the first.
void* Keep(void* handle, const std::string& path) {
    if (const auto same = HeldByHandle(handle); same != held.end()) {
        ::dlclose(handle);
        ++same->second.owners;
        return handle;
    }
    held.emplace(path, Held{handle, 1});
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
    const std::lock_guard guard(heldLock);
    // A library that another owner holds is shared as it is: its file was checked when it
    // was loaded.
    if (Held* entry = FindHeld(name)) {
        ++entry->owners;
        return SharedLibrary(entry->handle);
    }
    const std::string path = ResolveName(name);
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
    const auto entry = HeldByHandle(handle_);
    if (entry != held.end() && --entry->second.owners == 0) {
        held.erase(entry);
        ::dlclose(handle_);
    }
    handle_ = nullptr;
}

}  // namespace sys
