#include "agent/log/FileLog.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "agent/log/LogLines.h"
#include "common/err/Errors.h"
#include "common/util/FileUtils.h"

namespace logging {

namespace {

// Truncation reads and moves the file in pieces of this size, and looks this far past the
// cut point for a line end.
constexpr std::size_t kChunkSize = 4096;

bool IsLineEnd(char c) {
    return c == '\n' || c == '\r';
}

// Where the kept text begins: just past the first line end (LF, CR LF or a lone CR) found in
// the first kChunkSize bytes at the cut point, or the cut point itself when there is none.
// The window holds one byte more than is searched, so that a CR LF pair across its end is
// skipped whole and the kept text never begins with the LF of a line already cut.
std::uint64_t KeepStart(const char* window, std::size_t length, std::uint64_t cutPoint) {
    const char* searchEnd = window + std::min(length, kChunkSize);
    const char* lineEnd = std::find_if(window, searchEnd, IsLineEnd);
    if (lineEnd == searchEnd) {
        return cutPoint;
    }
    std::size_t offset = static_cast<std::size_t>(lineEnd - window) + 1;
    if (*lineEnd == '\r' && offset < length && window[offset] == '\n') {
        ++offset;
    }
    return cutPoint + offset;
}

// Copies the bytes from keepStart to the end of the old text to the front of the file. Stops
// at the first short read or failed write.
void MoveTailToFront(std::fstream& file, std::uint64_t keepStart, std::uint64_t size) {
    char chunk[kChunkSize];
    std::uint64_t writeAt = 0;
    for (std::uint64_t readAt = keepStart; readAt < size;) {
        const auto wanted =
            static_cast<std::streamsize>(std::min<std::uint64_t>(kChunkSize, size - readAt));
        file.seekg(static_cast<std::streamoff>(readAt));
        file.read(chunk, wanted);
        if (file.gcount() != wanted) {
            return;
        }
        file.seekp(static_cast<std::streamoff>(writeAt));
        if (!file.write(chunk, wanted)) {
            return;
        }
        readAt += static_cast<std::uint64_t>(wanted);
        writeAt += static_cast<std::uint64_t>(wanted);
    }
}

// The line with the system's line end after it and in place of every LF within it, so that a
// message of several lines becomes as many lines of the file.
std::string WithLineEnds(const std::string& line) {
    const std::string lineEnd = util::LineEnd();
    std::string text;
    text.reserve(line.size() + lineEnd.size());
    for (const char c : line) {
        if (c == '\n') {
            text += lineEnd;
        } else {
            text += c;
        }
    }
    return text + lineEnd;
}

}  // namespace

CFileLog::CFileLog(bool errors, bool debug, bool information, const std::string& fileName,
                   std::uint32_t maximumSize, std::uint32_t minimumCut)
    : minimumCut_(minimumCut) {
    SetLogParams(errors, debug, information, fileName, maximumSize);
}

void CFileLog::SetLogParams(bool errors, bool debug, bool information, const std::string& fileName,
                            std::uint32_t maximumSize) {
    std::lock_guard guard(lock_);
    errors_ = errors;
    debug_ = debug;
    information_ = information;
    fileName_ = fileName;
    maximumSize_ = maximumSize;
    if (util::FileExists(fileName_)) {
        return;
    }
    try {
        util::CreateEmptyFile(fileName_);
    } catch (const err::CGeneralError&) {
        maximumSize_ = 0;  // dormant until the next parameters name a usable file
    }
}

void CFileLog::Log(const LogHeader& header, const std::string& line) {
    {
        std::lock_guard guard(lock_);
        if (maximumSize_ < kLeastActiveSize || !LevelEnabled(header.Level())) {
            return;
        }
        Append(line);
    }
    // Taken apart from the write, so another thread's line may come in between.
    AdjustFileForSize();
}

void CFileLog::AdjustFileForSize() {
    std::lock_guard guard(lock_);
    if (maximumSize_ < kLeastActiveSize) {
        return;
    }
    std::error_code error;
    const std::uint64_t size = std::filesystem::file_size(fileName_, error);
    if (error || size < maximumSize_) {
        return;
    }
    Truncate(size);
}

bool CFileLog::IsActive() const {
    return maximumSize_ >= kLeastActiveSize;
}

bool CFileLog::Takes(unsigned level) const {
    return IsActive() && LevelEnabled(level);
}

bool CFileLog::LevelEnabled(unsigned level) const {
    switch (level) {
        case 0:
            return errors_;
        case 1:
            return information_;
        case 2:
            return debug_;
        default:
            return false;
    }
}

void CFileLog::Append(const std::string& line) {
    // A log removed under the agent comes back as private as a new one, not as the stream
    // would make it; when that fails, opening it below reports why. Binary, with the line ends
    // written out, so that the size checks count the bytes on disk.
    util::CreateNewFile(fileName_);
    std::ofstream file(fileName_, std::ios::out | std::ios::app | std::ios::binary);
    if (!file) {
        throw CAgentLogError("AgentLog", "CFileLog::Log() - open() failed on the file.",
                             logging::lines::kFileOpenFailed, kLogFileNotOpened,
                             err::LastSystemError());
    }
    file << WithLineEnds(line);
    file.flush();
    const bool failed = !file;
    if (failed && !writeFailing_) {
        std::fprintf(stderr, "wardex: the log file %s cannot be written, lines are lost: %s\n",
                     fileName_.c_str(), std::strerror(errno));
    }
    writeFailing_ = failed;
}

void CFileLog::Truncate(std::uint64_t size) {
    std::fstream file(fileName_, std::ios::in | std::ios::out | std::ios::binary);
    if (!file) {
        return;
    }
    const std::uint64_t cutPoint = std::max<std::uint64_t>(size - maximumSize_, minimumCut_);
    // A minimum cut fixed under a larger earlier limit may reach past the end: all goes.
    std::uint64_t keepStart = size;
    if (cutPoint < size) {
        char window[kChunkSize + 1];
        file.seekg(static_cast<std::streamoff>(cutPoint));
        file.read(window, sizeof window);
        if (file.bad()) {
            return;
        }
        file.clear();
        keepStart =
            std::min(size, KeepStart(window, static_cast<std::size_t>(file.gcount()), cutPoint));
    }
    MoveTailToFront(file, keepStart, size);
    file.close();
    std::error_code ignored;
    std::filesystem::resize_file(fileName_, size - keepStart, ignored);
}

}  // namespace logging
