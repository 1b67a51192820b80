#include "tests/engine/FakeAgent.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>

#include "common/msg/QXMessage.h"

namespace enginetest {

bool FakeAgent::AgentCommand(const std::string& command, msg::IQXMessage* message) {
    if (command == "GetAgentSettings" && testConnectionEvery_) {
        message->SetField("TestConnectionEvery", *testConnectionEvery_);
    }
    std::lock_guard lock(lock_);
    commands_.push_back({command, message->BuildText()});
    return true;
}

void FakeAgent::Log(int level, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list copy;
    va_copy(copy, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(static_cast<std::size_t>(std::max(length, 0)) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, arguments);
    va_end(arguments);
    text.pop_back();
    {
        std::lock_guard lock(lock_);
        lines_.push_back({level, std::move(text)});
    }
    logged_.notify_all();
}

msg::IQXMessage* FakeAgent::NewMessage() {
    return new msg::CQXMessage;
}

std::vector<FakeAgent::Command> FakeAgent::Commands() const {
    std::lock_guard lock(lock_);
    return commands_;
}

std::size_t FakeAgent::CountLines(const std::string& text, int level) const {
    std::lock_guard lock(lock_);
    return CountLocked(text, level);
}

bool FakeAgent::WaitForLines(const std::string& text, std::size_t count) const {
    std::unique_lock lock(lock_);
    return logged_.wait_for(lock, std::chrono::seconds(5),
                            [&] { return CountLocked(text, -1) >= count; });
}

std::size_t FakeAgent::CountLocked(const std::string& text, int level) const {
    return static_cast<std::size_t>(
        std::count_if(lines_.begin(), lines_.end(), [&](const Line& line) {
            return (level < 0 || line.level == level) && line.text.find(text) != std::string::npos;
        }));
}

}  // namespace enginetest
