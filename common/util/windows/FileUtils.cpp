#include "common/util/FileUtils.h"

#include <windows.h>

#include <algorithm>
#include <sys/stat.h>

#include "common/util/FileCalls.h"
#include "common/util/windows/PrivateAccess.h"

namespace util {
namespace {

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

bool CreateNewFile(const std::string& path) {
    const win::KernelHandle file =
        win::CreatePrivateFile(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW);
    return static_cast<bool>(file);
}

namespace files {

const char* FolderSeparators() {
    return "\\/";
}

std::size_t LongestPath() {
    return 519;
}

// After \\server\share\ of a network path, else at the beginning.
std::size_t FirstFolderEnd(const std::string& path) {
    if (path.rfind("\\\\", 0) != 0) {
        return 0;
    }
    const auto server = path.find_first_of(FolderSeparators(), 2);
    const auto share =
        server == std::string::npos ? server : path.find_first_of(FolderSeparators(), server + 1);
    return share == std::string::npos ? share : share + 1;
}

// A drive's root, or the root of the current drive.
bool IsRoot(const std::string& path, std::size_t separator) {
    return separator == 0 || path[separator - 1] == ':';
}

bool MakeFolder(const std::string& folder) {
    return ::CreateDirectoryA(folder.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

bool IsFile(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool Remove(const std::string& path) {
    return ::DeleteFileA(path.c_str()) != FALSE;
}

bool ReplaceWithEmpty(const std::string& path) {
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    Remove(path);
    const win::KernelHandle file =
        win::CreatePrivateFile(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
    return static_cast<bool>(file);
}

// The system applies the private list only to a file it makes.
std::optional<ReplaceStep> WriteNewFile(const std::string& path, const std::string& bytes) {
    const win::KernelHandle file = win::CreatePrivateFile(path, GENERIC_WRITE, 0, CREATE_NEW);
    if (!file) {
        return ReplaceStep::Create;
    }
    if (!WriteAll(file.Get(), bytes)) {
        return ReplaceStep::Write;
    }
    if (!::FlushFileBuffers(file.Get())) {
        return ReplaceStep::Flush;
    }
    return std::nullopt;
}

bool Rename(const std::string& from, const std::string& to) {
    return ::MoveFileExA(from.c_str(), to.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool SizeOf(const std::string& path, std::uint64_t& size) {
    struct _stat64 status {};
    if (::_stat64(path.c_str(), &status) != 0) {
        return false;
    }
    size = static_cast<std::uint64_t>(status.st_size);
    return true;
}

}  // namespace files
}  // namespace util
