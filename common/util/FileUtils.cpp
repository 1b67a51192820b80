#include "common/util/FileUtils.h"

#include "common/err/Errors.h"
#include "common/util/FileCalls.h"
#include "common/util/FileLines.h"
#include "common/util/StringUtils.h"

namespace util {
namespace {

constexpr const char* kSource = "common\\util\\FileUtils";

[[noreturn]] void Raise(const char* message, int line) {
    throw CFileIOError(kSource, message, line, kFileFailed, err::LastSystemError());
}

}  // namespace

bool FileExists(const std::string& path) {
    return files::IsFile(path);
}

bool DeleteFile(const std::string& path) {
    if (!FileExists(path)) {
        Raise("Delete failed - target does not exist", lines::kDeleteMissingFile);
    }
    if (!files::Remove(path)) {
        Raise("Delete failed ", lines::kDeleteFailed);
    }
    return true;
}

bool CreateDirectoryPath(const std::string& path) {
    std::string target = path;
    if (target.size() >= 3 && target.front() == '"') {
        target = target.substr(1, target.size() - 2);
    }
    const std::size_t start = files::FirstFolderEnd(target);
    if (target.size() > files::LongestPath() || start == std::string::npos) {
        return false;
    }
    const char* separators = files::FolderSeparators();
    for (auto separator = target.find_first_of(separators, start); separator != std::string::npos;
         separator = target.find_first_of(separators, separator + 1)) {
        if (!files::IsRoot(target, separator) && !files::MakeFolder(target.substr(0, separator))) {
            return false;
        }
    }
    return true;
}

void CreateEmptyFile(const std::string& path) {
    std::string target = path;
    StripQuotes(target);
    if (!CreateDirectoryPath(target)) {
        Raise("Error creating File, CreateDirectoryPath() failed.", lines::kEmptyFileFolderNotMade);
    }
    if (!files::ReplaceWithEmpty(target)) {
        Raise("Error creating File, ::CreateFile() failed.", lines::kEmptyFileNotCreated);
    }
}

std::optional<ReplaceStep> ReplaceFileContents(const std::string& path, const std::string& bytes) {
    const std::string temporary = path + ".tmp";
    // Always a new file: one left over (or put there) would keep its own owner and access
    // list, or lead the write elsewhere through a link.
    files::Remove(temporary);
    if (const auto failed = files::WriteNewFile(temporary, bytes)) {
        return failed;
    }
    if (!files::Rename(temporary, path)) {
        return ReplaceStep::Rename;
    }
    return std::nullopt;
}

std::uint64_t GetFileSize(const std::string& path) {
    if (!FileExists(path)) {
        Raise("File not found ", lines::kSizeOfMissingFile);
    }
    std::uint64_t size = 0;
    if (!files::SizeOf(path, size)) {
        Raise("Failed get file status ", lines::kSizeNotRead);
    }
    return size;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    return EndsWithSeparator(folder) ? folder + name : folder + PathSeparator() + name;
}

void SplitPath(const std::string& path, std::string& folder, std::string& name) {
    const auto separator = path.find_last_of("\\/");
    if (separator == std::string::npos) {
        return;
    }
    folder = path.substr(0, separator);
    name = path.substr(separator + 1);
}

}  // namespace util
