#include "agent/toolbox/Toolbox.h"

#include "common/err/Errors.h"
#include "common/util/StringUtils.h"

namespace {

constexpr const char* kSource = "Toolbox";

// Values of CToolBoxError: which part of the toolbox failed. The lines of the load errors
// are fixed, as administrators' log filters match them.
constexpr int kLibraryFault = 0;
constexpr int kEntryPointFault = 1;
constexpr int kTableFault = 2;
constexpr int kTableEntryFault = 3;

[[noreturn]] void Raise(const char* message, int line, int value) {
    throw CToolBoxError(kSource, message, line, value, 0);
}

}  // namespace

CToolBox::CToolBox(const char* name) : name_(name != nullptr ? name : "") {}

bool CToolBox::Load() {
    if (module_.IsOpen()) {
        Raise("Load - Library Already Loaded", 68, kLibraryFault);
    }
    if (name_.empty()) {
        Raise("Load - No library name specified", 72, kLibraryFault);
    }
    module_ = sys::SharedLibrary::Open(name_, loaderReason_);
    if (!module_.IsOpen()) {
        Raise("Load - LoadLibrary returned NULL", 78, kLibraryFault);
    }
    const auto entryPoint =
        reinterpret_cast<GetToolboxAPIFunction>(module_.Symbol(TBX_ENTRY_POINT, loaderReason_));
    if (entryPoint == nullptr) {
        Raise("Load - GetProcAddress returned NULL", 85, kEntryPointFault);
    }
    table_ = entryPoint();
    if (table_ == nullptr) {
        Raise("Load - GetAPI returned NULL", 92, kTableFault);
    }
    return true;
}

void CToolBox::GetAPIVersion(int& out) const {
    out = Table("GetAPIVersion").APIVersion;
}

void CToolBox::GetVersion(int& major, int& minor, int& build) const {
    const ToolboxAPI& table = Table("GetVersion");
    if (table.Version == nullptr) {
        Raise("GetVersion - Version entry is NULL", __LINE__, kTableEntryFault);
    }
    table.Version(&major, &minor, &build);
}

int CToolBox::HandleMessage(msg::IQXMessage* message, IAgentAPI* agent) const {
    const ToolboxAPI& table = Table("HandleMessage");
    if (table.HandleMessage == nullptr) {
        Raise("HandleMessage - HandleMessage entry is NULL", __LINE__, kTableEntryFault);
    }
    return table.HandleMessage(message, agent);
}

const ToolboxAPI& CToolBox::Table(const char* operation) const {
    if (table_ == nullptr) {
        throw CToolBoxError(kSource, util::Format("%s - Library Not Loaded", operation), __LINE__,
                            kLibraryFault, 0);
    }
    return *table_;
}
