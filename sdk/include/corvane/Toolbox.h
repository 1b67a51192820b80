#pragma once

// What a toolbox library provides: one exported plain function, GetToolboxAPI, that returns
// the toolbox's entry table. The agent loads the library for a message, checks the table's
// API version, calls HandleMessage and frees the library again.

#include <cstdint>

#include <corvane/IAgentAPI.h>
#include <corvane/IQXMessage.h>

// The version of this contract; the agent skips a toolbox whose table reports another.
inline constexpr std::int32_t TBX_API_VERSION = 1;

// Return codes of HandleMessage.
// The toolbox took the message and failed; no further toolbox is asked.
inline constexpr std::int32_t TBX_FAILED = 0;
// The toolbox handled the message; no further toolbox is asked.
inline constexpr std::int32_t TBX_SUCCESS = 1;
// The message is not for this toolbox; the next toolbox is asked.
inline constexpr std::int32_t TBX_NEXT_TOOLBOX = 2;

// The entry table. It must stay valid and unchanged while the library is loaded.
struct ToolboxAPI {
    std::int32_t APIVersion;  // TBX_API_VERSION
    // Fills in the toolbox's own version.
    void (*Version)(int* major, int* minor, int* build);
    // Handles one message. The message stays the agent's: do not release it and do not keep
    // it, or the agent pointer, past the return.
    std::int32_t (*HandleMessage)(msg::IQXMessage* message, IAgentAPI* agent);
};

// The name under which the agent looks up the entry point.
inline constexpr char TBX_ENTRY_POINT[] = "GetToolboxAPI";

using GetToolboxAPIFunction = const ToolboxAPI* (*)();

// The entry point is the one name a toolbox library needs to export: a Windows DLL marks it
// for export (the linker then exports nothing else), a shared object gives it default
// visibility so that a toolbox built with hidden visibility exports it.
#if defined(_WIN32)
#define CORVANE_TOOLBOX_EXPORT __declspec(dllexport)
#else
#define CORVANE_TOOLBOX_EXPORT __attribute__((visibility("default")))
#endif

// Defined by every toolbox: returns its entry table, or null when it cannot work.
extern "C" CORVANE_TOOLBOX_EXPORT const ToolboxAPI* GetToolboxAPI();

#if defined(__MINGW32__) && defined(__GLIBCXX__)
// A toolbox built with mingw-w64 carries its own static copy of the C++ runtime, whose
// exception support takes an emergency pool of about 70 KiB from the process heap when the
// library is loaded and never gives it back. The agent loads and frees each toolbox around
// every message, so every message would leave one pool behind; this object returns it as the
// library is unloaded (static objects of a DLL end with it). Harmless in a program, where it
// runs at exit.
namespace __gnu_cxx {
void __freeres();
}
namespace corvane::detail {
struct EmergencyPoolRelease {
    ~EmergencyPoolRelease() { __gnu_cxx::__freeres(); }
};
inline EmergencyPoolRelease emergencyPoolRelease;
}  // namespace corvane::detail
#endif
