#include "agent/engine/Dispatch.h"

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

void CDispatch::Offer() {
    if (pool_) {
        pool_->Offer();
    }
}

void CDispatch::Stop() {
    if (pool_) {
        pool_->Stop();
        pool_.reset();
        WARDEX_LOG(*agent_, LogLevel::Information, "Dispatch::Run() Exiting dispatch thread");
    }
}
