#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <corvane/IAgentAPI.h>

#include "common/msg/QXMessage.h"

namespace testsupport {

struct LogLine {
    int level;
    std::string text;
};

// An agent for toolboxes, the dispatcher and the connection threads: the built-in commands
// they call work on settings and a task state kept in memory (every other command is taken
// and does nothing); its InvokeHandler runs what the test scripts; and it records
// every command run, every message sent and every log line. The message
// sink is outside what the tests look at, so it keeps nothing. Safe to use from many threads at
// once; every wait is bounded.
class RecordingAgent final : public IAgentAPI {
public:
    using Handler = std::function<void(msg::IQXMessage&)>;

    // Before the agent is first used.
    void SetHandler(Handler handler) { handler_ = std::move(handler); }

    void UserInput() override {}
    bool AgentCommand(const std::string& command, msg::IQXMessage* message) override;
    bool InvokeHandler(msg::IQXMessage* message) override;
    void Log(int level, const char* format, ...) override;
    msg::IQXMessage* NewMessage() override { return new msg::CQXMessage; }
    void Send(msg::IQXMessage* message) override;
    msg::IQXMessage* FetchFromMessageSink(std::int32_t) override { return nullptr; }
    msg::IQXMessage* FetchFromMessageSinkReverse(std::int32_t) override { return nullptr; }
    void AddToMessageSink(msg::IQXMessage* message, std::int32_t) override { message->Release(); }

    void SetSetting(const std::string& name, const std::string& value) {
        Store(settings_, name, value);
    }
    std::map<std::string, std::string> Settings() const { return Locked(settings_); }
    void SetState(const std::string& name, const std::string& value) { Store(state_, name, value); }
    // The commands run, each as "<command>" or, for CloseSession, "CloseSession Shutdown=<v>".
    std::vector<std::string> Commands() const { return Locked(commands_); }
    std::vector<std::string> Sent() const { return Locked(sent_); }
    // The number of log lines at the level (any level when -1) that contain the text.
    std::size_t CountLines(const std::string& text, int level = -1) const;
    // Waits until count lines hold the text; false when they did not come.
    bool WaitForLines(const std::string& text, std::size_t count = 1) const;

private:
    // A copy of the member, taken under the lock.
    template <typename T>
    T Locked(const T& member) const {
        std::lock_guard guard(lock_);
        return member;
    }
    void Store(std::map<std::string, std::string>& member, const std::string& name,
               const std::string& value) {
        std::lock_guard guard(lock_);
        member[name] = value;
    }
    std::size_t CountLocked(const std::string& text, int level) const;

    Handler handler_;
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::map<std::string, std::string> settings_;
    std::map<std::string, std::string> state_;
    std::vector<std::string> commands_;
    std::vector<std::string> sent_;
    std::vector<LogLine> lines_;
};

}  // namespace testsupport
