#pragma once

#include <string>

#include <corvane/IQXMessage.h>

namespace tbx {

// The host's name as the kernel knows it; empty when it cannot be read.
std::string HostName();

// An identity for this computer when the agent's "ClientID" setting is empty: the machine id
// of systemd (/etc/machine-id), else the host name.
std::string MachineIdentity();

// Adds what the server wants to know about the operating system: "HostName", "OS-Name"
// (PRETTY_NAME of os-release), "OS-Kernel" (kernel release), "OS-Architecture" (machine).
// A fact that cannot be read is left out.
void AddSystemFacts(msg::IQXMessage& message);

}  // namespace tbx
