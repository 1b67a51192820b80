#include "tests/support/RecordingAgent.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>

#include "common/msg/QXMessage.h"
#include "common/sys/CurrentProcess.h"
#include "common/util/StringUtils.h"

namespace testsupport {

msg::IQXMessage* NewJob(int sequence) {
    auto* message = new msg::CQXMessage;
    message->SetLead("Request", util::Format("Job%d", sequence).c_str());
    message->SetField("Seq", sequence);
    return message;
}

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
    {
        std::lock_guard guard(lock_);
        const int sequence = message->GetFieldInt("Seq");
        ++handled_[sequence];
        threads_[sequence] = sys::CurrentThreadId();
    }
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

void RecordingAgent::SetSetting(const std::string& name, const std::string& value) {
    std::lock_guard guard(lock_);
    settings_[name] = value;
}

void RecordingAgent::SetState(const std::string& name, const std::string& value) {
    std::lock_guard guard(lock_);
    state_[name] = value;
}

std::uint32_t RecordingAgent::HandlerThread(int sequence) const {
    std::lock_guard guard(lock_);
    const auto found = threads_.find(sequence);
    return found == threads_.end() ? 0 : found->second;
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
