#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "agent/engine/Bootstrap.h"
#include "agent/service/WinSvcEntry.h"
#include "common/lang/Event.h"
#include "common/util/ParamList.h"

// The service's main routine: registers the control handler, reports the start, starts the
// bootstrap thread with the stored toolbox list and stays until the service has stopped.
void QxaServiceMain(std::uint32_t argc, char** argv);
// The service's control handler, back at once for every control: stop, shutdown and
// preshutdown report the stop and start it, a logon or logoff makes the bootstrap check the
// users; other controls are answered without action.
std::uint32_t QxaServiceControl(std::uint32_t control, std::uint32_t eventType, void* eventData,
                                void* context);

// The agent's service: a process-wide object created on first use and deleted at exit. Its
// lines go to the log as far as the log can take them: a log that cannot be written never
// keeps the service from reaching RUNNING or STOPPED.
class QxaServiceEntry final : public WindowsServices::WinSvcEntry {
public:
    // The one instance; null only when it cannot be allocated.
    static QxaServiceEntry* GetInstance();

    // The process uses GetInstance; tests build entries of their own, whose bootstrap keeps
    // the clock and the program folder given.
    QxaServiceEntry(IBootstrapClock& clock, std::string programFolder);
    ~QxaServiceEntry() override = default;

    WindowsServices::ServiceMainFunction GetServiceMain() const override { return QxaServiceMain; }
    WindowsServices::ControlHandlerFunction GetControlHandler() const override {
        return QxaServiceControl;
    }
    const char* GetServiceName() const override;

    void SetToolboxList(const util::ParamList& toolboxes) { toolboxes_.Assign(toolboxes); }

    // The steps behind the two routines. RunMain registers the control handler and serves
    // with the status handle the registration gives. Serve reports the start, starts the
    // bootstrap, waits for a stop, reports STOP_PENDING while the bootstrap ends and
    // STOPPED last; an error of any kind on the way ends the service with STOPPED and the
    // exit code kExceptionInService.
    void RunMain();
    void Serve(WindowsServices::IStatusHandle& handle);
    std::uint32_t Control(std::uint32_t control, std::uint32_t eventType);

private:
    QxaServiceEntry();

    // Deletes the instance when the process ends.
    class QxaServiceDestroyer {
    public:
        ~QxaServiceDestroyer();
    };

    void AcceptControls();
    void Start();
    void Stop();
    // Marks the stop as requested; true for the first request only.
    bool RequestStop();
    void Finish(std::uint32_t exitCode);
    void SessionChange(std::uint32_t eventType);
    // Reports the status; a report that cannot be delivered is logged and the routine
    // goes on, so that the service still starts and stops in order.
    void TryReportStatus(std::uint32_t state, std::uint32_t waitHint, std::uint32_t exitCode = 0);

    util::ParamList toolboxes_;
    CBootstrap bootstrap_;
    // Orders the start against a stop: a stop that comes first means nothing is started.
    std::mutex startLock_;
    bool stopRequested_ = false;
    bool bootstrapStarted_ = false;
    // Set by the control handler's stop; the main routine then ends the bootstrap.
    lang::CEvent stopRequest_{lang::EventReset::Manual};
};
