#pragma once

#include <string>

#include <corvane/IAgentAPI.h>
#include <corvane/IQXMessage.h>
#include <corvane/Toolbox.h>

#include "common/sys/SharedLibrary.h"

// One toolbox library: loads it, fetches its entry table and calls it. The library stays
// loaded for the life of the object, which is meant to be short (one message), and is freed
// when the object goes, also after a failed Load, unless it was taken to be kept longer.
class CToolBox final {
public:
    // The name is passed to the loader unchanged: a path, or a bare name that is looked for
    // beside the program first and then by the dynamic linker's search.
    explicit CToolBox(const char* name);
    CToolBox(const CToolBox&) = delete;
    CToolBox& operator=(const CToolBox&) = delete;

    // Loads the library and fetches its entry table: true, or CToolBoxError.
    bool Load();
    // The operations below need a successful Load; without one they raise CToolBoxError.
    void GetAPIVersion(int& out) const;
    void GetVersion(int& major, int& minor, int& build) const;
    // The toolbox's return code, unchanged.
    int HandleMessage(msg::IQXMessage* message, IAgentAPI* agent) const;

    // Hands the loaded library over, leaving the object unloaded.
    sys::SharedLibrary TakeLibrary();

    const std::string& Name() const { return name_; }
    // Why the system refused the library or its entry point at the failed Load; empty when
    // Load failed for another reason or did not fail.
    const std::string& LoaderReason() const { return loaderReason_; }

private:
    const ToolboxAPI& Table(const char* operation) const;

    std::string name_;
    sys::SharedLibrary module_;
    const ToolboxAPI* table_ = nullptr;
    std::string loaderReason_;
};
