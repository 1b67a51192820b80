#include "common/util/FileUtils.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <sys/stat.h>

#include "common/util/FileCalls.h"
#include "common/util/Owned.h"

namespace util {
namespace {

// An open file, closed when it goes (the owner sys::FileDescriptor names, below sys).
using Descriptor = util::Owned<util::ClosedBy<int, ::close, -1>>;

}  // namespace

char PathSeparator() {
    return '/';
}

const char* LineEnd() {
    return "\n";
}

// The files the agent makes may hold what the server sent: readable by the owner only.
bool CreateNewFile(const std::string& path) {
    const Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    return file.IsOpen();
}

namespace files {

const char* FolderSeparators() {
    return "/";
}

std::size_t LongestPath() {
    return PATH_MAX - 1;
}

// The root is there already.
std::size_t FirstFolderEnd(const std::string&) {
    return 1;
}

bool IsRoot(const std::string&, std::size_t) {
    return false;
}

bool MakeFolder(const std::string& folder) {
    return ::mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
}

bool IsFile(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

bool Remove(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool ReplaceWithEmpty(const std::string& path) {
    Remove(path);
    return CreateNewFile(path);
}

// O_NOFOLLOW: a link put in the new file's place does not lead the write elsewhere.
std::optional<ReplaceStep> WriteNewFile(const std::string& path, const std::string& bytes) {
    const Descriptor file(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
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
    return std::nullopt;
}

bool Rename(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool SizeOf(const std::string& path, std::uint64_t& size) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return false;
    }
    size = static_cast<std::uint64_t>(status.st_size);
    return true;
}

}  // namespace files
}  // namespace util
