#include "agent/TbxDispatch.h"

#include <cstddef>
#include <string>

#include <corvane/Toolbox.h>

#include "agent/Toolbox.h"
#include "common/err/Errors.h"

namespace {

constexpr const char* kSource = "TbxDispatch";

constexpr int kError = 0;
constexpr int kInformation = 1;
constexpr int kDebug = 2;

// The lines the log and the raised error carry, fixed so that administrators' log filters
// keep matching.
constexpr int kLineAttempt = 40;
constexpr int kLineMismatch = 55;
constexpr int kLineCalling = 68;
constexpr int kLineNext = 78;
constexpr int kLineReturned = 102;
constexpr int kLineLoaderReason = 108;
constexpr int kLineCaught = 110;
constexpr int kLineRaised = 114;

const char* ReturnCodeName(int code) {
    switch (code) {
        case TBX_FAILED:
            return "TBX_FAILED";
        case TBX_SUCCESS:
            return "TBX_SUCCESS";
        default:
            return "UNKNOWN RETURN CODE";
    }
}

}  // namespace

void TbxDispatch::HandleMessage(msg::IQXMessage* message, IAgentAPI* agent) const {
    const std::size_t count = toolboxes_.Count();
    for (std::size_t index = 0; index < count; ++index) {
        const char* name = toolboxes_.At(index);
        if (name != nullptr && Offer(name, message, agent) == Outcome::Done) {
            return;
        }
    }
}

TbxDispatch::Outcome TbxDispatch::Offer(const char* name, msg::IQXMessage* message,
                                        IAgentAPI* agent) const {
    CToolBox toolbox(name);
    agent->Log(kDebug, "%s:%d  - Attempting to load %s", kSource, kLineAttempt, name);
    try {
        return Call(toolbox, message, agent);
    } catch (const CToolBoxError& error) {
        if (!toolbox.LoaderReason().empty()) {
            agent->Log(kError, "%s:%d %s - %s", kSource, kLineLoaderReason, name,
                       toolbox.LoaderReason().c_str());
        }
        agent->Log(kError, "%s:%d exception caught\n\t%s:%d - %s\n\tValue = %d, GetLastError = %d",
                   kSource, kLineCaught, error.Source(), error.Line(), error.Message(),
                   error.Value(), static_cast<int>(error.SystemError()));
        // Leaving this frame destroys the toolbox and so frees its library.
        throw err::CGeneralError(kSource, std::string(error.Message()), kLineRaised, error.Value(),
                                 error.SystemError());
    }
}

TbxDispatch::Outcome TbxDispatch::Call(CToolBox& toolbox, msg::IQXMessage* message,
                                       IAgentAPI* agent) {
    const char* name = toolbox.Name().c_str();
    toolbox.Load();
    int apiVersion = 0;
    toolbox.GetAPIVersion(apiVersion);
    if (apiVersion != TBX_API_VERSION) {
        agent->Log(kError, "%s:%d %s - HandleMessage() TbxAPI Mismatch - need %d, found %d",
                   kSource, kLineMismatch, name, TBX_API_VERSION, apiVersion);
        return Outcome::AskNext;
    }
    int major = 0;
    int minor = 0;
    int build = 0;
    toolbox.GetVersion(major, minor, build);
    agent->Log(kInformation, "%s:%d HandleMessage() - calling %s Version(%d.%d.%d)", kSource,
               kLineCalling, name, major, minor, build);
    const int code = toolbox.HandleMessage(message, agent);
    if (code == TBX_NEXT_TOOLBOX) {
        agent->Log(kInformation, "%s:%d HandleMessage() - %s  returned TBX_NEXT_TOOLBOX", kSource,
                   kLineNext, name);
        return Outcome::AskNext;
    }
    agent->Log(kInformation, "%s:%d HandleMessage() - %s returned %s", kSource, kLineReturned, name,
               ReturnCodeName(code));
    return Outcome::Done;
}
