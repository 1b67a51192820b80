#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <corvane/IAgentAPI.h>

namespace testsupport {

struct LogLine {
    int level;
    std::string text;
    bool operator==(const LogLine&) const = default;
};

// An agent for toolboxes, the dispatcher and the connection threads: its built-in commands
// work on settings and a task state kept in memory the way the agent's own commands treat the
// registry and the state file, and it records every command run, every message sent and
// every log line. The message sink is outside what the tests look at, so it keeps nothing.
// Safe to use from many threads at once.
class RecordingAgent final : public IAgentAPI {
public:
    void UserInput() override {}
    bool AgentCommand(const std::string& command, msg::IQXMessage* message) override;
    bool InvokeHandler(msg::IQXMessage*) override { return true; }
    void Log(int level, const char* format, ...) override;
    msg::IQXMessage* NewMessage() override;
    void Send(msg::IQXMessage* message) override;
    msg::IQXMessage* FetchFromMessageSink(std::int32_t) override { return nullptr; }
    msg::IQXMessage* FetchFromMessageSinkReverse(std::int32_t) override { return nullptr; }
    void AddToMessageSink(msg::IQXMessage* message, std::int32_t) override { message->Release(); }

    void SetSetting(const std::string& name, const std::string& value);
    std::map<std::string, std::string> Settings() const;
    void SetState(const std::string& name, const std::string& value);
    // The commands run, each as "<command>" or, for CloseSession, "CloseSession Shutdown=<v>".
    std::vector<std::string> Commands() const;
    std::vector<std::string> Sent() const;
    std::vector<LogLine> Lines() const;
    // The texts of the lines logged at level 0, the error level.
    std::vector<std::string> ErrorLines() const;
    // The number of log lines at the level (any level when -1) that contain the text.
    std::size_t CountLines(const std::string& text, int level = -1) const;
    // Waits up to five seconds until CountLines(text) reaches count.
    bool WaitForLines(const std::string& text, std::size_t count = 1) const;

private:
    void GetSettings(msg::IQXMessage& message);
    void GetState(msg::IQXMessage& message);
    std::size_t CountLocked(const std::string& text, int level) const;

    mutable std::mutex lock_;
    mutable std::condition_variable logged_;
    std::map<std::string, std::string> settings_;
    std::map<std::string, std::string> state_;
    std::vector<std::string> commands_;
    std::vector<std::string> sent_;
    std::vector<LogLine> lines_;
};

}  // namespace testsupport
