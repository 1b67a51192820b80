#pragma once

#include <cstdint>
#include <mutex>

#include "agent/engine/bootstrap.h"
#include "agent/service/WinSvcEntry.h"
#include "common/util/ParamList.h"

// The service's main routine: registers the control handler, reports the start and starts
// the bootstrap thread with the stored toolbox list.
void QxaServiceMain(std::uint32_t argc, char** argv);
// The service's control handler: stop and shutdown stop the bootstrap, a logon or logoff
// makes it check the users; other controls are answered without action.
std::uint32_t QxaServiceControl(std::uint32_t control, std::uint32_t eventType, void* eventData,
                                void* context);

// The agent's service: a process-wide object created on first use and deleted at exit.
class QxaServiceEntry final : public WindowsServices::WinSvcEntry {
public:
    // The one instance; null only when it cannot be allocated.
    static QxaServiceEntry* GetInstance();

    WindowsServices::ServiceMainFunction GetServiceMain() const override { return QxaServiceMain; }
    WindowsServices::ControlHandlerFunction GetControlHandler() const override {
        return QxaServiceControl;
    }
    const char* GetServiceName() const override;

    void SetToolboxList(const util::ParamList& toolboxes) { toolboxes_.Assign(toolboxes); }

    // The steps behind the two routines.
    void RunMain();
    std::uint32_t Control(std::uint32_t control, std::uint32_t eventType);

private:
    QxaServiceEntry();
    ~QxaServiceEntry() override = default;

    // Deletes the instance when the process ends.
    class QxaServiceDestroyer {
    public:
        ~QxaServiceDestroyer();
    };

    void Start();
    void Stop();
    void SessionChange(std::uint32_t eventType);
    // Reports the status; a report that cannot be delivered is logged and the routine
    // goes on, so that the service still starts and stops in order.
    void TryReportStatus(std::uint32_t state, std::uint32_t waitHint);

    util::ParamList toolboxes_;
    CBootstrap bootstrap_;
    // Orders the start against a stop: a stop that comes first means nothing is started.
    std::mutex startLock_;
    bool stopRequested_ = false;
    bool bootstrapStarted_ = false;
};
