#include "agent/DispatchThread.h"

#include <memory>

#include "agent/GCThread.h"
#include "agent/MsgThread.h"
#include "agent/WorkerPool.h"

namespace {

constexpr const char* kSource = "DispatchThread";

constexpr int kError = 0;
constexpr int kInformation = 1;
constexpr int kDebug = 2;

}  // namespace

std::uint32_t CDispatch::Run(std::uint32_t) {
    GCThread collector(*agent_, workerLimit_);
    // Declared after the collector, so that its threads end before the collector goes.
    WorkerPool pool(*agent_, workerLimit_, idleLimit_, idleTimeoutMs_);
    while (msg::IQXMessage* message = GetQueue()->WaitAndPop(lang::kInfinite)) {
        collector.WaitForRoom();
        Dispatch(collector, pool, message);
    }
    agent_->Log(kInformation, "%s:%d Dispatch::Run() Queue Signaled but no data", kSource,
                __LINE__);
    collector.WaitForEnd();
    pool.Stop();
    agent_->Log(kInformation, "%s:%d Dispatch::Run() Exiting dispatch thread", kSource, __LINE__);
    return 0;
}

void CDispatch::Dispatch(GCThread& collector, WorkerPool& pool, msg::IQXMessage* message) {
    auto worker = std::make_unique<MsgThread>(collector.WorkerEndSignal());
    worker->SetArgs(agent_, message);
    agent_->Log(kDebug, "%s:%d Dispatch::Run() Args set, starting thread", kSource, __LINE__);
    if (!pool.Run(*worker)) {
        agent_->Log(kError,
                    "%s:%d Dispatch::Run() Cannot start a thread for %s, handling it on the "
                    "dispatch thread",
                    kSource, __LINE__, worker->Name().c_str());
        worker->Run();
        return;
    }
    agent_->Log(kDebug, "%s:%d Dispatch::Run() Handing object to Garbage Collector", kSource,
                __LINE__);
    collector.Add(std::move(worker));
}
