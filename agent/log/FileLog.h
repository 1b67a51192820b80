#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "agent/log/LogHeader.h"
#include "common/lang/CriticalSection.h"

namespace logging {

// A size-limited text log file. Each line is appended by opening the file, writing and
// closing it again, so other processes may read, rotate or delete the file at any time; a
// deleted file comes back with the next line. When a write leaves the file at or over its
// maximum size, the oldest lines are cut away in place, on a line boundary.
//
// A maximum size below 1024 bytes leaves the log dormant: nothing is written or cut. The log
// also goes dormant (maximum size 0) when its file cannot be created, for instance when a
// folder of its path is a file; the next SetLogParams tries again.
class CFileLog {
public:
    // The smallest maximum size that lets the log write.
    static constexpr std::uint32_t kLeastActiveSize = 1024;

    // minimumCut is the least number of bytes one truncation removes; it stays as given
    // whatever later SetLogParams calls change.
    CFileLog(bool errors, bool debug, bool information, const std::string& fileName,
             std::uint32_t maximumSize, std::uint32_t minimumCut);
    CFileLog(const CFileLog&) = delete;
    CFileLog& operator=(const CFileLog&) = delete;
    virtual ~CFileLog() = default;

    // Takes new flags, file and size, and creates the file (with its folders) if missing.
    void SetLogParams(bool errors, bool debug, bool information, const std::string& fileName,
                      std::uint32_t maximumSize);
    // Writes the line if the header's level (0 error, 1 information, 2 debug) has its flag
    // set, then keeps the file within its size; a line of a level that is off costs nothing
    // more. Raises logging::CAgentLogError when the file
    // cannot be opened for appending. A line that cannot be written whole (a full disk, a
    // file-size limit) is lost; standard error says so once, until a line goes in again.
    void Log(const LogHeader& header, const std::string& line);
    // False while the log is dormant, when Log does nothing at all.
    bool IsActive() const;
    // Whether Log writes a line of the level: the log is active and the level's flag is set,
    // so that a caller may skip composing a line that would not be written.
    bool Takes(unsigned level) const;
    // Cuts the oldest lines away when the file has reached its maximum size. Never raises:
    // a file that is missing or cannot be read or written is left as it is.
    void AdjustFileForSize();

private:
    bool LevelEnabled(unsigned level) const;
    void Append(const std::string& line);
    void Truncate(std::uint64_t size);

    // Written under the lock; Takes reads them without.
    std::atomic<bool> errors_{false};
    std::atomic<bool> debug_{false};
    std::atomic<bool> information_{false};
    std::string fileName_;
    // Written under the lock; IsActive reads it without.
    std::atomic<std::uint32_t> maximumSize_{0};
    const std::uint32_t minimumCut_;
    bool writeFailing_ = false;
    lang::CriticalSection lock_;
};

}  // namespace logging
