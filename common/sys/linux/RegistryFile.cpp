#include "common/sys/linux/RegistryFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>

#include "common/sys/Root.h"
#include "common/sys/linux/FileDescriptor.h"
#include "common/sys/linux/FileLock.h"
#include "common/sys/linux/RegistryText.h"
#include "common/util/FileUtils.h"
#include "common/util/StringUtils.h"

namespace sys {

namespace {

constexpr const char* kSource = "common\\sys\\RegistryFile";
constexpr unsigned kNewFileMode = 0600;
constexpr unsigned kNewFolderMode = 0700;
// mkostemp replaces these with a unique suffix.
constexpr const char* kTemporarySuffix = "XXXXXX";

[[noreturn]] void RaiseErrno(int line) {
    throw RegistryStoreError(kSource, "", line, 0, err::LastSystemError());
}

bool WriteAll(int file, const std::string& content) {
    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t result = ::write(file, content.data() + written, content.size() - written);
        if (result < 0 && errno != EINTR) {
            return false;
        }
        written += result > 0 ? static_cast<std::size_t>(result) : 0;
    }
    return true;
}

// Removes the temporary file unless the rename has taken it.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!path_.empty()) {
            ::unlink(path_.c_str());
        }
    }
    void Keep() { path_.clear(); }

private:
    std::string path_;
};

}  // namespace

RegistryFile::RegistryFile(std::string path) : path_(std::move(path)), folder_("."), name_(path_) {
    util::SplitPath(path_, folder_, name_);
}

std::string RegistryFile::DefaultPath() {
    return UnderRoot("etc/corvane/registry.reg");
}

RegistryKey RegistryFile::Load() const {
    FileLock lock;
    if (!lock.Acquire(folder_, FileLock::Mode::Shared)) {
        if (errno == ENOENT) {
            return RegistryKey::MakeStore();
        }
        RaiseErrno(__LINE__);
    }
    std::string content;
    unsigned mode = 0;
    ReadContent(content, mode);
    return Parse(content);
}

void RegistryFile::Update(const std::function<bool(RegistryKey&)>& change) const {
    MakeFolder();
    FileLock lock;
    if (!lock.Acquire(folder_, FileLock::Mode::Exclusive)) {
        RaiseErrno(__LINE__);
    }
    RemoveStaleTemporaries();
    std::string content;
    unsigned mode = kNewFileMode;
    ReadContent(content, mode);
    RegistryKey store = Parse(content);
    if (change(store)) {
        WriteAtomically(FormatRegistryText(store), mode, lock.Descriptor());
    }
}

bool RegistryFile::ReadContent(std::string& content, unsigned& mode) const {
    FileDescriptor file(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) {
        if (errno == ENOENT) {
            return false;
        }
        RaiseErrno(__LINE__);
    }
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0) {
        RaiseErrno(__LINE__);
    }
    mode = status.st_mode & 07777;
    content.clear();
    char buffer[16384];
    for (;;) {
        const ssize_t result = ::read(file.Get(), buffer, sizeof buffer);
        if (result == 0) {
            return true;
        }
        if (result < 0 && errno != EINTR) {
            RaiseErrno(__LINE__);
        }
        content.append(buffer, result > 0 ? static_cast<std::size_t>(result) : 0);
    }
}

RegistryKey RegistryFile::Parse(const std::string& content) const {
    try {
        return ParseRegistryText(content);
    } catch (const RegistryParseError& error) {
        throw RegistryStoreError(
            kSource, util::Format("%s line %d: %s", path_.c_str(), error.Line(), error.Message()),
            __LINE__, 0, EBADMSG);
    }
}

void RegistryFile::MakeFolder() const {
    struct stat status {};
    if (::stat(folder_.c_str(), &status) == 0) {
        return;
    }
    if (!util::CreateDirectoryPath(folder_)) {
        RaiseErrno(__LINE__);
    }
    if (::mkdir(folder_.c_str(), kNewFolderMode) != 0 && errno != EEXIST) {
        RaiseErrno(__LINE__);
    }
}

// Only a writer killed half-way leaves a temporary file behind; under the exclusive lock no
// other writer can be using one.
void RegistryFile::RemoveStaleTemporaries() const {
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(folder_.c_str()), ::closedir);
    if (!folder) {
        return;
    }
    const std::string prefix = "." + name_ + ".";
    const std::size_t length = prefix.size() + std::char_traits<char>::length(kTemporarySuffix);
    while (const dirent* entry = ::readdir(folder.get())) {
        const std::string name = entry->d_name;
        if (name.size() == length && name.rfind(prefix, 0) == 0) {
            ::unlinkat(::dirfd(folder.get()), name.c_str(), 0);
        }
    }
}

void RegistryFile::WriteAtomically(const std::string& content, unsigned mode, int folder) const {
    std::string path = folder_ + "/." + name_ + "." + kTemporarySuffix;
    FileDescriptor file(::mkostemp(path.data(), O_CLOEXEC));
    if (!file) {
        RaiseErrno(__LINE__);
    }
    TemporaryFile temporary(path);
    if (::fchmod(file.Get(), mode) != 0 || !WriteAll(file.Get(), content) ||
        ::fsync(file.Get()) != 0 || ::close(file.Release()) != 0) {
        RaiseErrno(__LINE__);
    }
    if (::rename(path.c_str(), path_.c_str()) != 0) {
        RaiseErrno(__LINE__);
    }
    temporary.Keep();
    if (::fsync(folder) != 0) {
        RaiseErrno(__LINE__);
    }
}

}  // namespace sys
