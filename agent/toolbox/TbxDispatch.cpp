#include "agent/toolbox/TbxDispatch.h"

#include <cstddef>
#include <string>

#include <corvane/Toolbox.h>

#include "agent/toolbox/KeptToolboxes.h"
#include "agent/toolbox/Toolbox.h"
#include "agent/toolbox/ToolboxLines.h"
#include "common/err/Errors.h"
#include "common/util/LogLine.h"

namespace {

constexpr const char* kSource = "TbxDispatch";

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
    WARDEX_LOG_AT(*agent, LogLevel::Debug, toolbox::lines::kAttempt, " - Attempting to load %s",
                  name);
    try {
        const Outcome outcome = Call(toolbox, message, agent);
        toolbox::KeptToolboxes::Keep(toolbox.TakeLibrary());
        return outcome;
    } catch (const CToolBoxError& error) {
        if (!toolbox.LoaderReason().empty()) {
            WARDEX_LOG_AT(*agent, LogLevel::Error, toolbox::lines::kLoaderReason, "%s - %s", name,
                          toolbox.LoaderReason().c_str());
        }
        WARDEX_LOG_AT(*agent, LogLevel::Error, toolbox::lines::kCaught,
                      "exception caught\n\t%s:%d - %s\n\tValue = %d, GetLastError = %d",
                      error.Source(), error.Line(), error.Message(), error.Value(),
                      static_cast<int>(error.SystemError()));
        // Leaving this frame destroys the toolbox and so frees its library.
        throw err::CGeneralError(kSource, std::string(error.Message()), toolbox::lines::kRaised,
                                 error.Value(), error.SystemError());
    }
}

TbxDispatch::Outcome TbxDispatch::Call(CToolBox& toolbox, msg::IQXMessage* message,
                                       IAgentAPI* agent) {
    const char* name = toolbox.Name().c_str();
    toolbox.Load();
    int apiVersion = 0;
    toolbox.GetAPIVersion(apiVersion);
    if (apiVersion != TBX_API_VERSION) {
        WARDEX_LOG_AT(*agent, LogLevel::Error, toolbox::lines::kVersionMismatch,
                      "%s - HandleMessage() TbxAPI Mismatch - need %d, found %d", name,
                      TBX_API_VERSION, apiVersion);
        return Outcome::AskNext;
    }
    int major = 0;
    int minor = 0;
    int build = 0;
    toolbox.GetVersion(major, minor, build);
    WARDEX_LOG_AT(*agent, LogLevel::Information, toolbox::lines::kCalling,
                  "HandleMessage() - calling %s Version(%d.%d.%d)", name, major, minor, build);
    const int code = toolbox.HandleMessage(message, agent);
    if (code == TBX_NEXT_TOOLBOX) {
        WARDEX_LOG_AT(*agent, LogLevel::Information, toolbox::lines::kNextToolbox,
                      "HandleMessage() - %s  returned TBX_NEXT_TOOLBOX", name);
        return Outcome::AskNext;
    }
    WARDEX_LOG_AT(*agent, LogLevel::Information, toolbox::lines::kReturned,
                  "HandleMessage() - %s returned %s", name, ReturnCodeName(code));
    return Outcome::Done;
}
