#pragma once

#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <string>

#include "agent/engine/BootstrapClock.h"
#include "agent/engine/ReconnectSchedule.h"
#include "common/lang/Event.h"
#include "common/lang/IAThreads.h"
#include "common/util/ParamList.h"

class CQXAgent;

// Drives the agent's life: one run builds a fresh agent, feeds it the one-shot settings
// file "mireton.inp" (beside the program) and the configuration file "mireton.cfg" (at the
// system drive), starts it, waits until its connection has ended and destroys it. As the
// service it repeats runs on its own thread, with a back-off wait between them, until it is
// told to stop; the console modes call single runs.
//
// The exit event is the one stop signal: once set it stays set for the life of the object.
class CBootstrap final : public lang::IAThread {
public:
    // The folder holds "mireton.inp" and the state file "wardex.dat"; by default it is the
    // program's own.
    explicit CBootstrap(IBootstrapClock& clock = CSystemClock::Instance());
    CBootstrap(IBootstrapClock& clock, std::string programFolder);
    // Sets the exit event and deletes an agent that still exists. A started thread must
    // have ended first (WaitForEnd).
    ~CBootstrap() override;

    // The toolboxes the service loop runs with; set before Start.
    void SetToolboxList(const util::ParamList& toolboxes) { toolboxes_.Assign(toolboxes); }
    // The service loop: runs and reconnect waits until the exit event is set. Returns 0,
    // or the system error of an error that ended the loop.
    std::uint32_t Run(std::uint32_t argument) override;
    // One agent run. Without startAgent only the two files are applied.
    void RunOnce(const util::ParamList& toolboxes, bool startAgent);
    // Stop request: sets the exit event and closes the running agent's connection. Safe
    // from any thread.
    void SignalShutdown();
    // A user logged on or off: the toolboxes fill in the user status, which goes on to the
    // server. Safe from any thread; does nothing between runs.
    void CheckUsers();

private:
    void HoldForDebugger();
    bool TakeDebugWaitRequest();
    void ReadInputFile();
    void ApplySettingsText(const std::string& text);
    void RunConfig(bool& reboot);
    void StartAgent();
    void OfferCreateSession();
    void StopStartedAgent() noexcept;
    void ResetLogParams();
    // Advances the schedule and gives its wait, with the spread the settings ask for.
    std::uint32_t NextWaitMilliseconds();
    // Waits on the exit event; true when the event ended the wait.
    bool WaitForExit(std::uint32_t milliseconds);
    void CreateAgent(const util::ParamList& toolboxes);
    void DestroyAgent();

    IBootstrapClock& clock_;
    const std::string programFolder_;
    lang::CEvent exit_{lang::EventReset::Manual};
    CReconnectSchedule schedule_;
    util::ParamList toolboxes_;
    // Set and cleared only by the bootstrap's own thread, under the lock held alone; the stop
    // and user-change relays use it from the service control thread under a shared hold,
    // which keeps the agent from being destroyed while the toolboxes check the users but
    // never keeps a stop from reaching the agent meanwhile.
    std::shared_mutex agentLock_;
    std::unique_ptr<CQXAgent> agent_;
};
