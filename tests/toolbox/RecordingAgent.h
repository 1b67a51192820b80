#pragma once

#include <mutex>
#include <string>
#include <vector>

#include <corvane/IAgentAPI.h>

namespace tbxtest {

struct LogLine {
    int level;
    std::string text;
    bool operator==(const LogLine&) const = default;
};

// An agent that records what toolboxes and the dispatcher do through it: the log lines and
// the text of every message sent. Safe to use from many threads at once. The message sink
// and the built-in commands are outside what these tests look at, so they do nothing.
class RecordingAgent final : public IAgentAPI {
public:
    void UserInput() override {}
    bool AgentCommand(const std::string&, msg::IQXMessage*) override { return false; }
    bool InvokeHandler(msg::IQXMessage*) override { return true; }
    void Log(int level, const char* format, ...) override;
    msg::IQXMessage* NewMessage() override;
    void Send(msg::IQXMessage* message) override;
    msg::IQXMessage* FetchFromMessageSink(std::int32_t) override { return nullptr; }
    msg::IQXMessage* FetchFromMessageSinkReverse(std::int32_t) override { return nullptr; }
    void AddToMessageSink(msg::IQXMessage* message, std::int32_t) override { message->Release(); }

    std::vector<LogLine> Lines() const;
    std::vector<std::string> Sent() const;

private:
    mutable std::mutex lock_;
    std::vector<LogLine> lines_;
    std::vector<std::string> sent_;
};

}  // namespace tbxtest
