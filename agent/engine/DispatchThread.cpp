#include "agent/engine/DispatchThread.h"

#include <memory>

#include "agent/engine/GCThread.h"
#include "agent/engine/MsgThread.h"
#include "agent/engine/WorkerPool.h"
#include "common/util/LogLine.h"

namespace {

constexpr const char* kSource = "DispatchThread";

}  // namespace

std::uint32_t CDispatch::Run(std::uint32_t) {
    GCThread collector(*agent_, workerLimit_);
    // Declared after the collector, so that its threads end before the collector goes.
    WorkerPool pool(*agent_, workerLimit_, idleLimit_, idleTimeoutMs_);
    while (msg::IQXMessage* message = GetQueue()->WaitAndPop(lang::kInfinite)) {
        collector.WaitForRoom();
        Dispatch(collector, pool, message);
    }
    WARDEX_LOG(*agent_, LogLevel::Information, "Dispatch::Run() Queue Signaled but no data");
    collector.WaitForEnd();
    pool.Stop();
    WARDEX_LOG(*agent_, LogLevel::Information, "Dispatch::Run() Exiting dispatch thread");
    return 0;
}

void CDispatch::Dispatch(GCThread& collector, WorkerPool& pool, msg::IQXMessage* message) {
    auto worker = std::make_unique<MsgThread>(collector.WorkerEndSignal());
    worker->SetArgs(agent_, message);
    WARDEX_LOG(*agent_, LogLevel::Debug, "Dispatch::Run() Args set, starting thread");
    if (!pool.Run(*worker)) {
        WARDEX_LOG(*agent_, LogLevel::Error,
                   "Dispatch::Run() Cannot start a thread for %s, handling it on the "
                   "dispatch thread",
                   worker->Name().c_str());
        worker->Run();
        return;
    }
    WARDEX_LOG(*agent_, LogLevel::Debug, "Dispatch::Run() Handing object to Garbage Collector");
    collector.Add(std::move(worker));
}
