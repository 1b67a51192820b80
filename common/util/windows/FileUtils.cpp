#include "common/util/FileUtils.h"

#include <windows.h>

#include <algorithm>
#include <sys/stat.h>

#include "common/err/Errors.h"
#include "common/sys/windows/Owned.h"
#include "common/sys/windows/PrivateAccess.h"
#include "common/util/StringUtils.h"

// The system's header names its wide or narrow call DeleteFile; this file defines its own.
#undef DeleteFile

namespace util {

namespace {

constexpr const char* kSource = "common\\util\\FileUtils";
// The longest path the folder walk takes.
constexpr std::size_t kLongestPath = 519;
constexpr const char* kSeparators = "\\/";

[[noreturn]] void Raise(const char* message, int line) {
    throw CFileIOError(kSource, message, line, 0, err::LastSystemError());
}

// Where folder creation starts: after \\server\share\ of a network path, else at the
// beginning. npos for a network path without its share.
std::size_t FirstCreatablePosition(const std::string& path) {
    if (path.rfind("\\\\", 0) != 0) {
        return 0;
    }
    const auto server = path.find_first_of(kSeparators, 2);
    const auto share =
        server == std::string::npos ? server : path.find_first_of(kSeparators, server + 1);
    return share == std::string::npos ? share : share + 1;
}

bool WriteAll(HANDLE file, const std::string& bytes) {
    for (std::size_t written = 0; written < bytes.size();) {
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - written, 1 << 30));
        DWORD done = 0;
        if (!::WriteFile(file, bytes.data() + written, chunk, &done, nullptr)) {
            return false;
        }
        written += done;
    }
    return true;
}

}  // namespace

char PathSeparator() {
    return '\\';
}

const char* LineEnd() {
    return "\r\n";
}

bool FileExists(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DeleteFile(const std::string& path) {
    if (!FileExists(path)) {
        Raise("Delete failed - target does not exist", 136);
    }
    if (!::DeleteFileA(path.c_str())) {
        Raise("Delete failed ", 139);
    }
    return true;
}

bool CreateDirectoryPath(const std::string& path) {
    std::string target = path;
    if (target.size() >= 3 && target.front() == '"') {
        target = target.substr(1, target.size() - 2);
    }
    const std::size_t start = FirstCreatablePosition(target);
    if (target.size() > kLongestPath || start == std::string::npos) {
        return false;
    }
    for (auto separator = target.find_first_of(kSeparators, start); separator != std::string::npos;
         separator = target.find_first_of(kSeparators, separator + 1)) {
        // A drive's root, or the root of the current drive, is there already.
        if (separator == 0 || target[separator - 1] == ':') {
            continue;
        }
        const std::string folder = target.substr(0, separator);
        if (!::CreateDirectoryA(folder.c_str(), nullptr) &&
            ::GetLastError() != ERROR_ALREADY_EXISTS) {
            return false;
        }
    }
    return true;
}

void CreateEmptyFile(const std::string& path) {
    std::string target = path;
    StripQuotes(target);
    if (!CreateDirectoryPath(target)) {
        Raise("Error creating File, CreateDirectoryPath() failed.", 317);
    }
    // A read-only file of that name is replaced too.
    ::SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(target.c_str());
    const sys::win::KernelHandle file =
        sys::win::CreatePrivateFile(target, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
    if (!file) {
        Raise("Error creating File, ::CreateFile() failed.", 327);
    }
}

bool CreateNewFile(const std::string& path) {
    const sys::win::KernelHandle file =
        sys::win::CreatePrivateFile(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW);
    return static_cast<bool>(file);
}

std::optional<ReplaceStep> ReplaceFileContents(const std::string& path, const std::string& bytes) {
    const std::string temporary = path + ".tmp";
    {
        // Always a new file: the system keeps the list of one left over (or put there).
        ::DeleteFileA(temporary.c_str());
        const sys::win::KernelHandle file =
            sys::win::CreatePrivateFile(temporary, GENERIC_WRITE, 0, CREATE_NEW);
        if (!file) {
            return ReplaceStep::Create;
        }
        if (!WriteAll(file.Get(), bytes)) {
            return ReplaceStep::Write;
        }
        if (!::FlushFileBuffers(file.Get())) {
            return ReplaceStep::Flush;
        }
    }
    if (!::MoveFileExA(temporary.c_str(), path.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return ReplaceStep::Rename;
    }
    return std::nullopt;
}

std::uint64_t GetFileSize(const std::string& path) {
    if (!FileExists(path)) {
        Raise("File not found ", 72);
    }
    struct _stat64 status {};
    if (::_stat64(path.c_str(), &status) != 0) {
        Raise("Failed get file status ", 78);
    }
    return static_cast<std::uint64_t>(status.st_size);
}

}  // namespace util
