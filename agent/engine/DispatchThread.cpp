#include "agent/engine/DispatchThread.h"

#include <memory>

#include "agent/engine/MsgThread.h"
#include "agent/engine/WorkerPool.h"
#include "common/util/LogLine.h"

namespace {

constexpr const char* kSource = "DispatchThread";

}  // namespace

std::uint32_t CDispatch::Run(std::uint32_t) {
    WorkerPool pool(*agent_, workerLimit_, idleLimit_, idleTimeoutMs_);
    while (msg::IQXMessage* message = GetQueue()->WaitAndPop(lang::kInfinite)) {
        Dispatch(pool, message);
    }
    WARDEX_LOG(*agent_, LogLevel::Information, "Dispatch::Run() Queue Signaled but no data");
    pool.Stop();
    WARDEX_LOG(*agent_, LogLevel::Information, "Dispatch::Run() Exiting dispatch thread");
    return 0;
}

void CDispatch::Dispatch(WorkerPool& pool, msg::IQXMessage* message) {
    auto worker = std::make_unique<MsgThread>();
    worker->SetArgs(agent_, message);
    WARDEX_LOG(*agent_, LogLevel::Debug, "Dispatch::Run() Args set, starting thread");
    if (const std::unique_ptr<MsgThread> unstarted = pool.Run(std::move(worker))) {
        WARDEX_LOG(*agent_, LogLevel::Error,
                   "Dispatch::Run() Cannot start a thread for %s, handling it on the "
                   "dispatch thread",
                   unstarted->Name().c_str());
        unstarted->Run();
    }
}
