#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <corvane/IAgentAPI.h>

namespace enginetest {

// An agent for the connection threads: it records log lines and the commands run through
// it, and answers "GetAgentSettings" with the "TestConnectionEvery" it was given (none
// leaves the request as it came). Safe to use from many threads at once.
class FakeAgent final : public IAgentAPI {
public:
    struct Command {
        std::string name;
        std::string text;  // the message's text form when the command ran
    };

    explicit FakeAgent(std::optional<int> testConnectionEvery = std::nullopt)
        : testConnectionEvery_(testConnectionEvery) {}

    void UserInput() override {}
    bool AgentCommand(const std::string& command, msg::IQXMessage* message) override;
    bool InvokeHandler(msg::IQXMessage*) override { return true; }
    void Log(int level, const char* format, ...) override;
    msg::IQXMessage* NewMessage() override;
    void Send(msg::IQXMessage* message) override { message->Release(); }
    msg::IQXMessage* FetchFromMessageSink(std::int32_t) override { return nullptr; }
    msg::IQXMessage* FetchFromMessageSinkReverse(std::int32_t) override { return nullptr; }
    void AddToMessageSink(msg::IQXMessage* message, std::int32_t) override { message->Release(); }

    std::vector<Command> Commands() const;
    // The number of log lines at the level (any level when -1) that contain the text.
    std::size_t CountLines(const std::string& text, int level = -1) const;
    // Waits up to five seconds until CountLines(text) reaches count.
    bool WaitForLines(const std::string& text, std::size_t count = 1) const;

private:
    struct Line {
        int level;
        std::string text;
    };
    std::size_t CountLocked(const std::string& text, int level) const;

    const std::optional<int> testConnectionEvery_;
    mutable std::mutex lock_;
    mutable std::condition_variable logged_;
    std::vector<Line> lines_;
    std::vector<Command> commands_;
};

}  // namespace enginetest
