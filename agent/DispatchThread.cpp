#include "agent/DispatchThread.h"

#include <memory>

#include "agent/GCThread.h"
#include "agent/MsgThread.h"

namespace {

constexpr const char* kSource = "DispatchThread";

constexpr int kError = 0;
constexpr int kInformation = 1;
constexpr int kDebug = 2;

}  // namespace

std::uint32_t CDispatch::Run(std::uint32_t) {
    GCThread collector(*agent_, workerLimit_);
    while (msg::IQXMessage* message = GetQueue()->WaitAndPop(lang::kInfinite)) {
        collector.WaitForRoom();
        Dispatch(collector, message);
    }
    agent_->Log(kInformation, "%s:%d Dispatch::Run() Queue Signaled but no data", kSource,
                __LINE__);
    collector.WaitForEnd();
    agent_->Log(kInformation, "%s:%d Dispatch::Run() Exiting dispatch thread", kSource, __LINE__);
    return 0;
}

void CDispatch::Dispatch(GCThread& collector, msg::IQXMessage* message) {
    auto worker = std::make_unique<MsgThread>(collector.WorkerEndSignal());
    worker->SetArgs(agent_, message);
    agent_->Log(kDebug, "%s:%d Dispatch::Run() Args set, starting thread", kSource, __LINE__);
    if (!worker->Start()) {
        agent_->Log(kError,
                    "%s:%d Dispatch::Run() Cannot start a thread for %s, handling it on the "
                    "dispatch thread",
                    kSource, __LINE__, worker->Name().c_str());
        worker->Run(0);
        return;
    }
    agent_->Log(kDebug, "%s:%d Dispatch::Run() Handing object to Garbage Collector", kSource,
                __LINE__);
    collector.Add(std::move(worker));
}
