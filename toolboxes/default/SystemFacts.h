#pragma once

#include <string>

#include <corvane/IQXMessage.h>

namespace tbx {

// The computer's name; empty when it cannot be read.
std::string HostName();

// An identity for this computer when the agent's "ClientID" setting is empty: the system's
// machine id (systemd's /etc/machine-id on Linux, the "MachineGuid" of the cryptography key
// on Windows), else the host name.
std::string MachineIdentity();

// Adds what the server wants to know about the operating system: "HostName", "OS-Name" (the
// system's product name), "OS-Kernel" (kernel release, or the Windows version number),
// "OS-Architecture" (machine). A fact that cannot be read is left out.
void AddSystemFacts(msg::IQXMessage& message);

}  // namespace tbx
