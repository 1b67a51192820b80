#include "tests/support/RecordingAgent.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>

#include "common/util/StringUtils.h"

namespace testsupport {

bool RecordingAgent::AgentCommand(const std::string& command, msg::IQXMessage* message) {
    std::lock_guard guard(lock_);
    commands_.push_back(command == "CloseSession"
                            ? command + " Shutdown=" + message->GetField("Shutdown")
                            : command);
    if (command == "GetAgentSettings") {
        // The toolboxes and the input thread ask for "Settings=Specified": the fields asked
        // for that are stored get their values.
        for (const auto& [name, value] : msg::FieldMap(*message->GetFields())) {
            if (const auto stored = settings_.find(name); stored != settings_.end()) {
                message->SetField(name, stored->second);
            }
        }
    } else if (command == "SetAgentSettings") {
        for (const auto& [name, value] : *message->GetFields()) {
            settings_[name] = value;
        }
    } else if (command == "GetState") {
        for (const auto& [name, value] : state_) {
            message->SetField(name, value);
        }
    } else if (command == "AgentUpdateInfo") {
        message->SetField("Auto-Update-Current0", "corvane-wardex-6.8.282.X86.exe");
        message->SetField("Auto-Update-Count", 1);
    }
    return true;
}

bool RecordingAgent::InvokeHandler(msg::IQXMessage* message) {
    if (handler_) {
        handler_(*message);
    }
    return true;
}

void RecordingAgent::Log(int level, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::string text = util::FormatV(format, arguments);
    va_end(arguments);
    {
        std::lock_guard guard(lock_);
        lines_.push_back({level, std::move(text)});
    }
    changed_.notify_all();
}

void RecordingAgent::Send(msg::IQXMessage* message) {
    std::string text;
    message->GetText(text);
    message->Release();
    std::lock_guard guard(lock_);
    sent_.push_back(std::move(text));
}

std::size_t RecordingAgent::CountLines(const std::string& text, int level) const {
    std::lock_guard guard(lock_);
    return CountLocked(text, level);
}

bool RecordingAgent::WaitForLines(const std::string& text, std::size_t count) const {
    // Long enough for any line a test waits for; short enough that a fault fails the test
    // instead of hanging it.
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::seconds(20),
                             [&] { return CountLocked(text, -1) >= count; });
}

std::size_t RecordingAgent::CountLocked(const std::string& text, int level) const {
    return static_cast<std::size_t>(
        std::count_if(lines_.begin(), lines_.end(), [&](const LogLine& line) {
            return (level < 0 || line.level == level) && line.text.find(text) != std::string::npos;
        }));
}

}  // namespace testsupport
