#include "tests/engine/ScriptedAgent.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstring>

#include "common/msg/QXMessage.h"
#include "common/sys/CurrentProcess.h"
#include "common/util/StringUtils.h"

namespace disptest {

namespace {

// Long enough for any state a test waits for; short enough that a fault fails the test
// instead of hanging it.
constexpr auto kPatience = std::chrono::seconds(20);

// The collector's lines for a worker handed over and a worker found finished.
constexpr const char* kHandedOver = "Adding object to the garbage heap";
constexpr const char* kCollected = "has completed";

std::size_t CountIn(const std::vector<LogLine>& lines, const std::string& part) {
    return std::count_if(lines.begin(), lines.end(), [&part](const LogLine& line) {
        return line.text.find(part) != std::string::npos;
    });
}

}  // namespace

msg::IQXMessage* NewJob(int sequence) {
    auto* message = new msg::CQXMessage;
    message->SetLead("Request", util::Format("Job%d", sequence).c_str());
    message->SetField("Seq", sequence);
    return message;
}

bool ScriptedAgent::InvokeHandler(msg::IQXMessage* message) {
    const int sequence = message->GetFieldInt("Seq");
    {
        std::lock_guard guard(lock_);
        ++handled_[sequence];
        threads_[sequence] = sys::CurrentThreadId();
        mostAtOnce_ = std::max(mostAtOnce_, ++running_);
    }
    changed_.notify_all();
    struct Leave {
        ScriptedAgent& agent;
        ~Leave() {
            {
                std::lock_guard guard(agent.lock_);
                --agent.running_;
            }
            agent.changed_.notify_all();
        }
    } leave{*this};
    if (handler_) {
        handler_(*message);
    }
    return true;
}

void ScriptedAgent::Log(int level, const char* format, ...) {
    {
        std::lock_guard guard(lock_);
        if (std::strstr(format, kHandedOver) != nullptr) {
            mostOnHeap_ = std::max(mostOnHeap_, ++onHeap_);
        } else if (std::strstr(format, kCollected) != nullptr) {
            --onHeap_;
        }
    }
    if (!keepLines_) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    std::string text = util::FormatV(format, arguments);
    va_end(arguments);
    if (watcher_) {
        watcher_(text);
    }
    Record(level, std::move(text));
}

msg::IQXMessage* ScriptedAgent::NewMessage() {
    return new msg::CQXMessage;
}

void ScriptedAgent::Record(int level, std::string text) {
    {
        std::lock_guard guard(lock_);
        lines_.push_back({level, std::move(text)});
    }
    changed_.notify_all();
}

std::map<int, int> ScriptedAgent::Handled() const {
    std::lock_guard guard(lock_);
    return handled_;
}

std::uint32_t ScriptedAgent::HandlerThread(int sequence) const {
    std::lock_guard guard(lock_);
    const auto found = threads_.find(sequence);
    return found == threads_.end() ? 0 : found->second;
}

int ScriptedAgent::MostAtOnce() const {
    std::lock_guard guard(lock_);
    return mostAtOnce_;
}

int ScriptedAgent::MostOnHeap() const {
    std::lock_guard guard(lock_);
    return mostOnHeap_;
}

int ScriptedAgent::StillOnHeap() const {
    std::lock_guard guard(lock_);
    return onHeap_;
}

std::vector<LogLine> ScriptedAgent::Lines() const {
    std::lock_guard guard(lock_);
    return lines_;
}

std::size_t ScriptedAgent::CountLines(const std::string& part) const {
    return CountIn(Lines(), part);
}

template <typename Predicate>
bool ScriptedAgent::WaitUntil(Predicate predicate) const {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, kPatience, predicate);
}

bool ScriptedAgent::WaitForRunning(int count) const {
    return WaitUntil([this, count] { return running_ >= count; });
}

bool ScriptedAgent::WaitForLines(const std::string& part, std::size_t count) const {
    return WaitUntil([this, &part, count] { return CountIn(lines_, part) >= count; });
}

}  // namespace disptest
