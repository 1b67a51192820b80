#include "agent/store/AgentState.h"

#include <algorithm>
#include <mutex>

namespace {

// The names a value may enter under. "Desination-Address" is spelled as earlier agents
// and their servers have it; "Destination-Address" is where the agent records the server's
// address after it connects, so that the server can read it back.
constexpr std::array<const char*, 20> kAcceptedNames = {
    "ID",
    "Server-Name",
    "QXVersion",
    "Request-Type",
    "Task-Sequence-ID",
    "Task-Type",
    "Schedule-ID",
    "Status-Code",
    "ConfigStatus-ModuleFilename",
    "Task-Enumeration",
    "Connection",
    "Desination-Address",
    "Destination-Port",
    "Source-Address",
    "Source-Port",
    "MAC-Addr",
    "Encrypted",
    "Username",
    "Password",
    "Destination-Address",
};

}  // namespace

const std::array<const char*, CAgentState::kPersistedCount> CAgentState::kPersistedNames = {
    "Task-Sequence-ID", "Task-Type", "Schedule-ID", "Config", "Status-Code", "Status-Module",
};

bool CAgentState::IsAcceptedName(const std::string& name) {
    return std::find(kAcceptedNames.begin(), kAcceptedNames.end(), name) != kAcceptedNames.end();
}

void CAgentState::Set(const std::string& name, const std::string& value) {
    {
        std::lock_guard lock(lock_);
        if (IsAcceptedName(name)) {
            values_.try_emplace(name, value);
        }
    }
    Notify(0);
}

void CAgentState::SetFrom(const msg::IQXMessage& message) {
    const msg::FieldMap fields = *message.GetFields();
    {
        std::lock_guard lock(lock_);
        for (const auto& [name, value] : fields) {
            if (const auto found = values_.find(name); found != values_.end()) {
                found->second = value;
            } else if (IsAcceptedName(name)) {
                values_.emplace(name, value);
            }
        }
    }
    Notify(0);
}

void CAgentState::Mark(const std::string& name, const std::string& value) {
    {
        std::lock_guard lock(lock_);
        if (std::find(kPersistedNames.begin(), kPersistedNames.end(), name) !=
            kPersistedNames.end()) {
            values_[name] = value;
        }
    }
    Notify(0);
}

void CAgentState::GetInto(msg::IQXMessage& message) const {
    std::lock_guard lock(lock_);
    if (std::string(message.GetField("State")) == "Specific") {
        const msg::FieldMap fields = *message.GetFields();
        for (const auto& [name, unused] : fields) {
            const auto found = values_.find(name);
            message.SetField(name, found != values_.end() ? found->second : std::string());
        }
        return;
    }
    message.Clear();
    for (const auto& [name, value] : values_) {
        message.SetField(name, value);
    }
}

CAgentState::Persisted CAgentState::TakePersisted() {
    std::lock_guard lock(lock_);
    Persisted values;
    for (std::size_t i = 0; i < kPersistedCount; ++i) {
        values[i] = values_[kPersistedNames[i]];
    }
    return values;
}

void CAgentState::RestorePersisted(const Persisted& values) {
    std::lock_guard lock(lock_);
    for (std::size_t i = 0; i < kPersistedCount; ++i) {
        values_[kPersistedNames[i]] = values[i];
    }
}
