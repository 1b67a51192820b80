#include "agent/ServiceControl.h"

#include "agent/AgentLog.h"
#include "common/err/Errors.h"

namespace {

constexpr const char* kSource = "ServiceControl";

// The service manager is not reachable from this program yet: every operation says so in
// the log and fails.
class CUnavailableServiceControl final : public IServiceControl {
public:
    bool Install(const std::string&, const std::string&, const std::string&, int) override {
        return Refuse("Install");
    }
    bool Delete(const std::string&) override { return Refuse("Delete"); }
    bool StartService(const util::ParamList&) override { return Refuse("StartService"); }
    bool IsRunning(const std::string&) override { return Refuse("IsRunning"); }

private:
    static bool Refuse(const char* operation) {
        try {
            logging::CAgentLog::GetInstance()->Log(
                0, "%s:%d ServiceControl::%s - the service manager cannot be reached", kSource,
                __LINE__, operation);
        } catch (const err::CGeneralError&) {
        }
        return false;
    }
};

}  // namespace

IServiceControl& ServiceControl() {
    static CUnavailableServiceControl control;
    return control;
}
