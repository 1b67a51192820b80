#include "agent/toolbox/Toolbox.h"

#include <utility>

#include "agent/toolbox/ToolboxLines.h"
#include "common/err/Errors.h"
#include "common/util/StringUtils.h"

namespace {

constexpr const char* kSource = "Toolbox";

[[noreturn]] void Raise(const char* message, int line, ToolboxErrorValue value) {
    throw CToolBoxError(kSource, message, line, value, 0);
}

}  // namespace

CToolBox::CToolBox(const char* name) : name_(name != nullptr ? name : "") {}

bool CToolBox::Load() {
    if (module_.IsOpen()) {
        Raise("Load - Library Already Loaded", toolbox::lines::kAlreadyLoaded,
              kToolboxLibraryFault);
    }
    if (name_.empty()) {
        Raise("Load - No library name specified", toolbox::lines::kNoName, kToolboxLibraryFault);
    }
    module_ = sys::SharedLibrary::Open(name_, loaderReason_);
    if (!module_.IsOpen()) {
        Raise("Load - LoadLibrary returned NULL", toolbox::lines::kLoadFailed,
              kToolboxLibraryFault);
    }
    const auto entryPoint =
        reinterpret_cast<GetToolboxAPIFunction>(module_.Symbol(TBX_ENTRY_POINT, loaderReason_));
    if (entryPoint == nullptr) {
        Raise("Load - GetProcAddress returned NULL", toolbox::lines::kNoEntryPoint,
              kToolboxEntryPointFault);
    }
    table_ = entryPoint();
    if (table_ == nullptr) {
        Raise("Load - GetAPI returned NULL", toolbox::lines::kNoTable, kToolboxTableFault);
    }
    return true;
}

sys::SharedLibrary CToolBox::TakeLibrary() {
    table_ = nullptr;
    return std::move(module_);
}

void CToolBox::GetAPIVersion(int& out) const {
    out = Table("GetAPIVersion").APIVersion;
}

void CToolBox::GetVersion(int& major, int& minor, int& build) const {
    const ToolboxAPI& table = Table("GetVersion");
    if (table.Version == nullptr) {
        Raise("GetVersion - Version entry is NULL", __LINE__, kToolboxTableEntryFault);
    }
    table.Version(&major, &minor, &build);
}

int CToolBox::HandleMessage(msg::IQXMessage* message, IAgentAPI* agent) const {
    const ToolboxAPI& table = Table("HandleMessage");
    if (table.HandleMessage == nullptr) {
        Raise("HandleMessage - HandleMessage entry is NULL", __LINE__, kToolboxTableEntryFault);
    }
    return table.HandleMessage(message, agent);
}

const ToolboxAPI& CToolBox::Table(const char* operation) const {
    if (table_ == nullptr) {
        throw CToolBoxError(kSource, util::Format("%s - Library Not Loaded", operation), __LINE__,
                            kToolboxLibraryFault, 0);
    }
    return *table_;
}
