#include "common/sys/SharedLibrary.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "common/sys/FileTrust.h"
#include "common/sys/ProgramPath.h"
#include "common/sys/windows/SystemMessage.h"

namespace sys {

namespace {

// Where the loader looks for a library named without a folder, and for what a library
// imports: the program's folder and the system's, never the current folder or PATH, where
// users may put files for a process that runs as LocalSystem.
constexpr DWORD kSafeFolders = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;
// For a library named by its full path, its own folder too.
constexpr DWORD kSafeFoldersAndOwn = kSafeFolders | LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR;

std::string LoaderError(const std::string& subject) {
    return subject + ": " + win::SystemMessage(::GetLastError());
}

bool HasFolder(const std::string& name) {
    return name.find_first_of("\\/") != std::string::npos;
}

// The program's folder does not change while it runs, so it is read once.
const std::filesystem::path& CachedProgramFolder() {
    static const std::filesystem::path folder = ProgramFolder();
    return folder;
}

// The full path handed to the loader: a bare name found beside the program becomes that
// file, a path becomes a full one (the loader takes backslashes only in some places); a bare
// name found nowhere stays bare, for the system's folder.
std::string ResolveName(const std::string& name) {
    std::error_code error;
    std::filesystem::path path;
    if (!HasFolder(name)) {
        path = CachedProgramFolder() / name;
        if (CachedProgramFolder().empty() || !std::filesystem::is_regular_file(path, error)) {
            return name;
        }
    } else {
        path = std::filesystem::absolute(name, error);
    }
    std::string full = error ? name : path.string();
    std::replace(full.begin(), full.end(), '/', '\\');
    return full;
}

}  // namespace

SharedLibrary SharedLibrary::Open(const std::string& name, std::string& error) {
    if (name.empty()) {
        error = "no library name";
        return SharedLibrary();
    }
    const std::string path = ResolveName(name);
    // A library that another owner holds is shared as it is: its file was checked when it
    // was loaded, and the loader finds it by its name without reading the file again.
    if (HMODULE held = nullptr; ::GetModuleHandleExA(0, path.c_str(), &held)) {
        return SharedLibrary(held);
    }
    // A bare name is left to the system's folders, which only administrators change.
    const bool named = HasFolder(path);
    if (std::string reason = named ? UntrustedFileReason(path) : ""; !reason.empty()) {
        error = std::move(reason);
        return SharedLibrary();
    }
    const HMODULE module =
        ::LoadLibraryExA(path.c_str(), nullptr, named ? kSafeFoldersAndOwn : kSafeFolders);
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
