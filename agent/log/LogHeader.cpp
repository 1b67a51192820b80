#include "agent/log/LogHeader.h"

#include <chrono>
#include <ctime>

#include "common/lang/CurrentThread.h"
#include "common/sys/CurrentProcess.h"
#include "common/sys/LocalTime.h"
#include "common/util/StringUtils.h"

namespace logging {

namespace {

// Room for the date or the time text, with plenty to spare.
constexpr std::size_t kTimeTextSize = 128;

std::string FormatTime(const char* format, const std::tm& local) {
    char text[kTimeTextSize] = {};
    std::strftime(text, sizeof text, format, &local);
    return text;
}

}  // namespace

const std::string& LogHeader::Stamp(unsigned level) {
    using namespace std::chrono;
    const auto sinceEpoch = system_clock::now().time_since_epoch();
    level_ = level;
    seconds_ = duration_cast<seconds>(sinceEpoch).count();
    milliseconds_ =
        static_cast<std::uint16_t>(duration_cast<milliseconds>(sinceEpoch).count() % 1000);
    threadId_ = lang::CurrentThreadId();
    processId_ = sys::CurrentProcessId();

    const std::tm local = sys::LocalTime(static_cast<std::time_t>(seconds_));
    text_ = util::Format("[%s %s.%03d %u %d] ", FormatTime("%m/%d/%y", local).c_str(),
                         FormatTime("%H:%M:%S", local).c_str(), milliseconds_, threadId_,
                         static_cast<int>(level_));
    return text_;
}

}  // namespace logging
