#pragma once

#include <cstdint>
#include <string>

namespace logging {

// The stamp in front of every log line: "[date time.ms thread level] ", for example
// "[05/14/07 13:02:07.042 3120 1] ", with the date and time in local time.
class LogHeader {
public:
    LogHeader() = default;
    virtual ~LogHeader() = default;

    // Takes the current time and the calling thread's ids, and returns the header text.
    const std::string& Stamp(unsigned level);

    unsigned Level() const { return level_; }
    std::uint32_t ProcessId() const { return processId_; }
    std::uint32_t ThreadId() const { return threadId_; }
    // Seconds since 1970 and the millisecond within that second of the stamp.
    std::int64_t Seconds() const { return seconds_; }
    std::uint16_t Milliseconds() const { return milliseconds_; }
    const std::string& Text() const { return text_; }

private:
    std::uint32_t level_ = 0;
    std::uint32_t processId_ = 0;
    std::uint32_t threadId_ = 0;
    std::int64_t seconds_ = 0;
    std::uint16_t milliseconds_ = 0;
    std::string text_;
};

}  // namespace logging
