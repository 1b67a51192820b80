#include "agent/log/AgentLog.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <new>

#include "agent/log/LogLines.h"
#include "common/err/Errors.h"
#include "common/util/LogLine.h"
#include "common/util/StringUtils.h"

namespace logging {

namespace {

constexpr const char* kSource = "AgentLog";

std::atomic<CAgentLog*> instance{nullptr};

}  // namespace

CAgentLog::CLogDestroyer::~CLogDestroyer() {
    delete instance.exchange(nullptr);
}

CAgentLog* CAgentLog::GetInstance() {
    static CLogDestroyer destroyer;
    static lang::CriticalSection instanceLock;
    CAgentLog* current = instance.load();
    if (current == nullptr) {
        std::lock_guard guard(instanceLock);
        current = instance.load();
        if (current == nullptr) {
            current = new CAgentLog;
            instance.store(current);
        }
    }
    return current;
}

void CAgentLog::Log(unsigned level, const char* format, ...) {
    CFileLog* fileLog = FileLog();
    // A line that would not be written gets no header and no formatting.
    if (fileLog == nullptr || !fileLog->Takes(level)) {
        return;
    }
    LogHeader header;
    header.Stamp(level);
    va_list arguments;
    va_start(arguments, format);
    const std::string message = util::FormatV(format, arguments);
    va_end(arguments);
    fileLog->Log(header, header.Text() + message);
}

bool CAgentLog::Takes(unsigned level) {
    CFileLog* fileLog = FileLog();
    return fileLog != nullptr && fileLog->Takes(level);
}

void CAgentLog::InitializeFileLog(bool errors, bool debug, bool information,
                                  const std::string& fileName, std::uint32_t maximumSize) {
    {
        std::lock_guard guard(lock_);
        if (fileLog_) {
            return;
        }
        try {
            fileLog_ = std::make_unique<CFileLog>(errors, debug, information, fileName, maximumSize,
                                                  maximumSize / 5);
            published_.store(fileLog_.get(), std::memory_order_release);
        } catch (const std::bad_alloc&) {
            throw CAgentLogError(
                kSource, "CAgentLog::InitializeFileLog() Failed to initialize file log.",
                logging::lines::kAllocationFailed, kLogOutOfMemory, err::LastSystemError());
        }
    }
    WARDEX_LOG_AT(*this, LogLevel::Information, logging::lines::kInitialized,
                  "***** InitializeFileLog *****");
}

void CAgentLog::SetLogParams(bool errors, bool debug, bool information, const std::string& fileName,
                             std::uint32_t maximumSize) {
    if (CFileLog* fileLog = FileLog()) {
        fileLog->SetLogParams(errors, debug, information, fileName, maximumSize);
    }
}

CFileLog* CAgentLog::FileLog() {
    return published_.load(std::memory_order_acquire);
}

void CBestEffortLog::Log(unsigned level, const char* format, ...) const {
    CAgentLog* log = CAgentLog::GetInstance();
    if (echo_ == Echo::None && !log->Takes(level)) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    const std::string text = util::FormatV(format, arguments);
    va_end(arguments);
    if (echo_ == Echo::StandardOutput) {
        std::printf("%s\n", text.c_str());
    }
    try {
        log->Log(level, "%s", text.c_str());
    } catch (const err::CGeneralError&) {
    }
}

}  // namespace logging
