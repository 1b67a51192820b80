#pragma once

#include <windows.h>

#include "agent/service/WinSvcEntry.h"

namespace ServiceControl {

// The control handler the service registers, with the context it registers it with.
struct ControlRegistration {
    WindowsServices::ControlHandlerFunction handler = nullptr;
    void* context = nullptr;
};

// What the service control manager calls for every control, with a ControlRegistration as
// its context: the registered handler gets the control, event type and event data and its
// own context, and its answer goes back. An error the handler raises is logged and stays
// here, since it must not go back into the dispatcher.
DWORD WINAPI RelayControl(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);

}  // namespace ServiceControl
