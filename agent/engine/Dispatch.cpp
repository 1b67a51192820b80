#include "agent/engine/Dispatch.h"

#include "agent/engine/EngineLines.h"
#include "agent/engine/MsgThread.h"
#include "agent/engine/WorkerPool.h"
#include "common/util/LogLine.h"

namespace {

constexpr const char* kSource = "DispatchThread";

}  // namespace

CDispatch::CDispatch() = default;

CDispatch::~CDispatch() {
    Stop();
}

void CDispatch::Start() {
    pool_ =
        std::make_unique<WorkerPool>(*agent_, *queue_, workerLimit_, idleLimit_, idleTimeoutMs_);
}

// With no thread to take it, the oldest message is handled here, which also holds up the
// input until the system has threads again.
void CDispatch::Offer() {
    if (!pool_ || pool_->Offer()) {
        return;
    }
    if (msg::IQXMessage* message = queue_->Pop()) {
        MsgThread worker;
        worker.SetArgs(agent_, message);
        WARDEX_LOG_AT(*agent_, LogLevel::Error, engine::lines::kDispatchNoThread,
                      "Dispatch::Run() Cannot start a thread for %s, handling it on the "
                      "dispatch thread",
                      worker.Name().c_str());
        worker.Run();
    }
}

void CDispatch::Stop() {
    if (pool_) {
        pool_->Stop();
        pool_.reset();
        WARDEX_LOG_AT(*agent_, LogLevel::Information, engine::lines::kDispatchExiting,
                      "Dispatch::Run() Exiting dispatch thread");
    }
}
