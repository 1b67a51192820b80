// The cost of dispatching one message through one toolbox. The baseline runs while another
// thread holds the library, as a message still inside the toolbox does, so the dispatcher's
// load and free only count references; the other run is the usual case of a quiet agent,
// where every message maps the library, runs its constructors, and unmaps it again.

#include <benchmark/benchmark.h>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include <corvane/IAgentAPI.h>

#include "agent/toolbox/TbxDispatch.h"
#include "agent/toolbox/Toolbox.h"
#include "common/msg/QXMessage.h"

namespace {

const std::string kToolbox = WARDEX_BENCH_TOOLBOX;

// An agent whose callbacks cost nothing, so the figures are the loader's and dispatcher's.
class QuietAgent final : public IAgentAPI {
public:
    void UserInput() override {}
    bool AgentCommand(const std::string&, msg::IQXMessage*) override { return false; }
    bool InvokeHandler(msg::IQXMessage*) override { return true; }
    void Log(int, const char*, ...) override {}
    msg::IQXMessage* NewMessage() override { return new msg::CQXMessage(); }
    void Send(msg::IQXMessage* message) override { message->Release(); }
    msg::IQXMessage* FetchFromMessageSink(std::int32_t) override { return nullptr; }
    msg::IQXMessage* FetchFromMessageSinkReverse(std::int32_t) override { return nullptr; }
    void AddToMessageSink(msg::IQXMessage* message, std::int32_t) override { message->Release(); }
};

// Keeps the library loaded from a thread of its own for the life of the object.
class LibraryHolder {
public:
    LibraryHolder() : thread_([this] { Hold(); }) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return loaded_; });
    }
    ~LibraryHolder() {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    LibraryHolder(const LibraryHolder&) = delete;
    LibraryHolder& operator=(const LibraryHolder&) = delete;

private:
    void Hold() {
        CToolBox toolbox(kToolbox.c_str());
        toolbox.Load();
        std::unique_lock lock(mutex_);
        loaded_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool loaded_ = false;
    bool released_ = false;
    std::thread thread_;
};

void DispatchMessages(benchmark::State& state) {
    QuietAgent agent;
    util::ParamList toolboxes;
    toolboxes.Add(kToolbox);
    const TbxDispatch dispatch(toolboxes);
    msg::CQXMessage message;
    message.SetLead("Request", "Bench");
    for (auto _ : state) {
        // The toolbox appends to this field; keep the message the same size every time.
        message.SetField("Trail", "");
        dispatch.HandleMessage(&message, &agent);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_BaselineLibraryHeldElsewhere(benchmark::State& state) {
    const LibraryHolder holder;
    DispatchMessages(state);
}

void BM_LibraryFreedBetweenMessages(benchmark::State& state) {
    DispatchMessages(state);
}

}  // namespace

BENCHMARK(BM_BaselineLibraryHeldElsewhere);
BENCHMARK(BM_LibraryFreedBetweenMessages);

BENCHMARK_MAIN();
