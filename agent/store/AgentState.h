#pragma once

#include <array>
#include <map>
#include <string>

#include <corvane/IQXMessage.h>

#include "common/lang/CriticalSection.h"
#include "common/util/Observed.h"

// What the agent knows about its work with the management server: task identifiers,
// status and the connection's addresses, as named text values. Handlers read and write it
// from messages on many threads at once; six of the values outlive the agent object in the
// state file.
class CAgentState : public util::CObserved {
public:
    static constexpr std::size_t kPersistedCount = 6;
    using Persisted = std::array<std::string, kPersistedCount>;
    // The names kept in the state file, in the order they are written.
    static const std::array<const char*, kPersistedCount> kPersistedNames;

    // Adds the pair when the name is accepted and not yet present: an existing value stays.
    void Set(const std::string& name, const std::string& value);
    // Replaces the values the message names; adds the accepted names not yet present. A
    // server's SetState comes here, so a persisted name outside the accepted ones enters only
    // from the state file or through Mark.
    void SetFrom(const msg::IQXMessage& message);
    // The agent's own record under a persisted name, present yet or not (the configuration
    // step's "Config", on a first start too); any other name is ignored.
    void Mark(const std::string& name, const std::string& value);
    // With "State" = "Specific", fills in the values of the fields the message names (an
    // empty one where none is stored); otherwise replaces the message by every stored pair.
    void GetInto(msg::IQXMessage& message) const;
    // The persisted values in their order; a name not stored yet is added, empty.
    Persisted TakePersisted();
    // Stores loaded values under the persisted names, replacing what was there.
    void RestorePersisted(const Persisted& values);

    static bool IsAcceptedName(const std::string& name);

private:
    mutable lang::CriticalSection lock_;
    std::map<std::string, std::string> values_;
};
