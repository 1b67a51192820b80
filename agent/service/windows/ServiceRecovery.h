#pragma once

#include <windows.h>

namespace ServiceControl {

// How the settings reach the service control manager: ChangeServiceConfig2A, or a stand-in.
using ConfigChange = BOOL(WINAPI*)(SC_HANDLE service, DWORD level, LPVOID info);

// Tells the service control manager what the service's command line cannot: restart the
// service 10, 30 and then 60 seconds after a failure, counted anew after a day without one;
// count as a failure an end with an error too, not only a crash; and give the service a
// minute to save its state before the system shuts down. Each setting is handed over on its
// own; one that is refused is logged and the others still go through, since the service is
// installed and runs without them.
void ConfigureRecovery(SC_HANDLE service, ConfigChange change = ::ChangeServiceConfig2A);

}  // namespace ServiceControl
