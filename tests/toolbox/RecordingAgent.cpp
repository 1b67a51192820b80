#include "tests/toolbox/RecordingAgent.h"

#include <cstdarg>

#include "common/msg/QXMessage.h"
#include "common/util/StringUtils.h"

namespace tbxtest {

void RecordingAgent::Log(int level, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::string text = util::FormatV(format, arguments);
    va_end(arguments);
    std::lock_guard guard(lock_);
    lines_.push_back({level, std::move(text)});
}

msg::IQXMessage* RecordingAgent::NewMessage() {
    return new msg::CQXMessage();
}

void RecordingAgent::Send(msg::IQXMessage* message) {
    std::string text;
    message->GetText(text);
    message->Release();
    std::lock_guard guard(lock_);
    sent_.push_back(std::move(text));
}

std::vector<LogLine> RecordingAgent::Lines() const {
    std::lock_guard guard(lock_);
    return lines_;
}

std::vector<std::string> RecordingAgent::Sent() const {
    std::lock_guard guard(lock_);
    return sent_;
}

}  // namespace tbxtest
