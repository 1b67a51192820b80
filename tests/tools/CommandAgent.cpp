#include "tests/tools/CommandAgent.h"

#include <cstdarg>

#include "common/msg/QXMessage.h"
#include "common/util/StringUtils.h"

namespace simtest {

bool CommandAgent::AgentCommand(const std::string& command, msg::IQXMessage* message) {
    std::lock_guard guard(lock_);
    commands_.push_back(command == "CloseSession"
                            ? command + " Shutdown=" + message->GetField("Shutdown")
                            : command);
    if (command == "GetAgentSettings") {
        GetSettings(*message);
    } else if (command == "SetAgentSettings") {
        for (const auto& [name, value] : *message->GetFields()) {
            settings_[name] = value;
        }
    } else if (command == "GetState") {
        GetState(*message);
    } else if (command == "SetState") {
        for (const auto& [name, value] : *message->GetFields()) {
            state_[name] = value;
        }
    } else if (command == "AgentUpdateInfo") {
        message->SetField("Auto-Update-Current0", "corvane-wardex-6.8.282.X86.exe");
        message->SetField("Auto-Update-Count", 1);
    } else if (command != "ClearState" && command != "CloseSession") {
        message->Clear();
        message->SetLead(command.c_str(), "BadCommand");
        return false;
    }
    return true;
}

void CommandAgent::GetSettings(msg::IQXMessage& message) {
    if (util::CompareNoCase(message.GetField("Settings"), "Specified") != 0) {
        for (const auto& [name, value] : settings_) {
            message.SetField(name, value);
        }
        return;
    }
    const msg::FieldMap fields = *message.GetFields();
    for (const auto& [name, value] : fields) {
        if (const auto stored = settings_.find(name); stored != settings_.end()) {
            message.SetField(name, stored->second);
        }
    }
}

void CommandAgent::GetState(msg::IQXMessage& message) {
    if (std::string(message.GetField("State")) == "Specific") {
        const msg::FieldMap fields = *message.GetFields();
        for (const auto& [name, value] : fields) {
            const auto stored = state_.find(name);
            message.SetField(name, stored == state_.end() ? std::string() : stored->second);
        }
        return;
    }
    message.Clear();
    for (const auto& [name, value] : state_) {
        message.SetField(name, value);
    }
}

void CommandAgent::Log(int level, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::string text = util::FormatV(format, arguments);
    va_end(arguments);
    if (level == 0) {
        std::lock_guard guard(lock_);
        errors_.push_back(std::move(text));
    }
}

msg::IQXMessage* CommandAgent::NewMessage() {
    return new msg::CQXMessage();
}

void CommandAgent::Send(msg::IQXMessage* message) {
    std::string text;
    message->GetText(text);
    message->Release();
    std::lock_guard guard(lock_);
    sent_.push_back(std::move(text));
}

void CommandAgent::SetSetting(const std::string& name, const std::string& value) {
    std::lock_guard guard(lock_);
    settings_[name] = value;
}

std::map<std::string, std::string> CommandAgent::Settings() const {
    std::lock_guard guard(lock_);
    return settings_;
}

void CommandAgent::SetState(const std::string& name, const std::string& value) {
    std::lock_guard guard(lock_);
    state_[name] = value;
}

std::map<std::string, std::string> CommandAgent::State() const {
    std::lock_guard guard(lock_);
    return state_;
}

std::vector<std::string> CommandAgent::Commands() const {
    std::lock_guard guard(lock_);
    return commands_;
}

std::vector<std::string> CommandAgent::Sent() const {
    std::lock_guard guard(lock_);
    return sent_;
}

std::vector<std::string> CommandAgent::ErrorLines() const {
    std::lock_guard guard(lock_);
    return errors_;
}

}  // namespace simtest
