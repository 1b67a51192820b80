#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <corvane/IAgentAPI.h>
#include <corvane/IQXMessage.h>

namespace disptest {

struct LogLine {
    int level;
    std::string text;
};

// A new message "Request=Job<sequence>" with the field "Seq"; the caller owns it.
msg::IQXMessage* NewJob(int sequence);

// An agent whose InvokeHandler runs what the test scripts, and which records what the dispatch
// thread, its workers and its collector do through it: the sequence numbers handled, on which
// thread, how many handlers ran at once, and the log lines. Safe to use from many threads.
class ScriptedAgent final : public IAgentAPI {
public:
    using Handler = std::function<void(msg::IQXMessage&)>;

    // Both before the first message is dispatched.
    void SetHandler(Handler handler) { handler_ = std::move(handler); }
    // Without kept lines the log costs nothing, for runs with very many messages.
    void KeepLines(bool keep) { keepLines_ = keep; }
    // Called with each kept line as it is logged, on the logging thread.
    void OnLine(std::function<void(const std::string&)> watcher) { watcher_ = std::move(watcher); }

    void UserInput() override {}
    bool AgentCommand(const std::string&, msg::IQXMessage*) override { return false; }
    bool InvokeHandler(msg::IQXMessage* message) override;
    void Log(int level, const char* format, ...) override;
    msg::IQXMessage* NewMessage() override;
    void Send(msg::IQXMessage* message) override { message->Release(); }
    msg::IQXMessage* FetchFromMessageSink(std::int32_t) override { return nullptr; }
    msg::IQXMessage* FetchFromMessageSinkReverse(std::int32_t) override { return nullptr; }
    void AddToMessageSink(msg::IQXMessage* message, std::int32_t) override { message->Release(); }

    // How often each sequence number was handled.
    std::map<int, int> Handled() const;
    // The thread that handled the sequence number (0 when none did).
    std::uint32_t HandlerThread(int sequence) const;
    // The most handlers that were running at the same time.
    int MostAtOnce() const;
    // The most workers that had been handed to the collector and not yet deleted, as seen
    // each time one more was handed over.
    int MostOnHeap() const;
    // The workers handed to the collector that it has not found finished.
    int StillOnHeap() const;
    std::vector<LogLine> Lines() const;
    std::size_t CountLines(const std::string& part) const;

    // Each waits at most a few seconds and tells whether the state was reached: at least
    // count handlers running at once, at least count lines holding the part.
    bool WaitForRunning(int count) const;
    bool WaitForLines(const std::string& part, std::size_t count) const;

private:
    template <typename Predicate>
    bool WaitUntil(Predicate predicate) const;
    void Record(int level, std::string text);

    Handler handler_;
    bool keepLines_ = true;
    std::function<void(const std::string&)> watcher_;

    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::map<int, int> handled_;
    std::map<int, std::uint32_t> threads_;
    int running_ = 0;
    int mostAtOnce_ = 0;
    int onHeap_ = 0;
    int mostOnHeap_ = 0;
    std::vector<LogLine> lines_;
};

}  // namespace disptest
