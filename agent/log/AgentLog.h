#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include <corvane/PrintfFormat.h>

#include "agent/log/FileLog.h"
#include "common/lang/CriticalSection.h"

namespace logging {

// The process-wide log front end: every component writes its diagnostics through it,
// WARDEX_LOG(*CAgentLog::GetInstance(), level, ...) or a sink that ends here, with the
// levels of LogLevel. Until InitializeFileLog has run, and while the file log is dormant,
// messages are dropped unformatted.
class CAgentLog {
public:
    // The one instance, created on first use and deleted at process exit.
    static CAgentLog* GetInstance();

    CAgentLog(const CAgentLog&) = delete;
    CAgentLog& operator=(const CAgentLog&) = delete;
    virtual ~CAgentLog() = default;

    // Stamps the message with a header and hands it to the file log. Raises
    // logging::CAgentLogError when the log file cannot be opened.
    void Log(unsigned level, const char* format, ...) CORVANE_PRINTF_FORMAT(3, 4);
    // Whether Log writes a line of the level: false without a file log, while it is dormant
    // or when the level is off, so that a caller may skip composing its line.
    bool Takes(unsigned level);

    // Creates the file log, once; later calls are ignored. The least number of bytes one
    // truncation removes is fixed here at a fifth of maximumSize. Note the order of the
    // flags: errors, debug, information.
    void InitializeFileLog(bool errors, bool debug, bool information, const std::string& fileName,
                           std::uint32_t maximumSize);
    // Re-parameterises the file log; does nothing before InitializeFileLog.
    void SetLogParams(bool errors, bool debug, bool information, const std::string& fileName,
                      std::uint32_t maximumSize);

protected:
    // The process uses GetInstance; tests build instances of their own.
    CAgentLog() = default;

private:
    // Deletes the instance when the process ends.
    class CLogDestroyer {
    public:
        virtual ~CLogDestroyer();
    };

    CFileLog* FileLog();

    // Guards the creation of the file log.
    lang::CriticalSection lock_;
    std::unique_ptr<CFileLog> fileLog_;
    // The file log once created, read by every line without the lock.
    std::atomic<CFileLog*> published_{nullptr};
};

// A sink for the threads whose work must go on when the log file cannot be written (the
// bootstrap, the service control thread): a line that CAgentLog::Log would raise
// CAgentLogError for is dropped instead. An echoing sink prints every line on standard
// output as well, whether the log takes it or not.
class CBestEffortLog {
public:
    enum class Echo { None, StandardOutput };

    constexpr explicit CBestEffortLog(Echo echo = Echo::None) : echo_(echo) {}

    void Log(unsigned level, const char* format, ...) const CORVANE_PRINTF_FORMAT(3, 4);

private:
    Echo echo_;
};

}  // namespace logging
