#include "common/util/FileUtils.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <sys/stat.h>

#include "common/err/Errors.h"
#include "common/sys/linux/FileDescriptor.h"
#include "common/util/StringUtils.h"

namespace util {

namespace {

constexpr const char* kSource = "common\\util\\FileUtils";

[[noreturn]] void Raise(const char* message, int line) {
    throw CFileIOError(kSource, message, line, 0, err::LastSystemError());
}

}  // namespace

char PathSeparator() {
    return '/';
}

const char* LineEnd() {
    return "\n";
}

bool FileExists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

bool DeleteFile(const std::string& path) {
    if (!FileExists(path)) {
        Raise("Delete failed - target does not exist", 136);
    }
    if (::unlink(path.c_str()) != 0) {
        Raise("Delete failed ", 139);
    }
    return true;
}

bool CreateDirectoryPath(const std::string& path) {
    std::string target = path;
    if (target.size() >= 3 && target.front() == '"') {
        target = target.substr(1, target.size() - 2);
    }
    if (target.size() >= PATH_MAX) {
        return false;
    }
    for (auto slash = target.find('/', 1); slash != std::string::npos;
         slash = target.find('/', slash + 1)) {
        const std::string folder = target.substr(0, slash);
        if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
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
    ::unlink(target.c_str());
    if (!CreateNewFile(target)) {
        Raise("Error creating File, ::CreateFile() failed.", 327);
    }
}

// The files the agent makes may hold what the server sent: readable by the owner only.
bool CreateNewFile(const std::string& path) {
    const sys::FileDescriptor file(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    return static_cast<bool>(file);
}

std::optional<ReplaceStep> ReplaceFileContents(const std::string& path, const std::string& bytes) {
    const std::string temporary = path + ".tmp";
    {
        // Always a new file: one left over (or put there) would keep its own mode and owner,
        // or lead the write elsewhere through a link.
        ::unlink(temporary.c_str());
        sys::FileDescriptor file(
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!file) {
            return ReplaceStep::Create;
        }
        for (std::size_t written = 0; written < bytes.size();) {
            const ssize_t n = ::write(file.Get(), bytes.data() + written, bytes.size() - written);
            if (n < 0 && errno != EINTR) {
                return ReplaceStep::Write;
            }
            written += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
        if (::fsync(file.Get()) != 0) {
            return ReplaceStep::Flush;
        }
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        return ReplaceStep::Rename;
    }
    return std::nullopt;
}

std::uint64_t GetFileSize(const std::string& path) {
    if (!FileExists(path)) {
        Raise("File not found ", 72);
    }
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        Raise("Failed get file status ", 78);
    }
    return static_cast<std::uint64_t>(status.st_size);
}

}  // namespace util
