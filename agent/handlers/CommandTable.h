#pragma once

#include <memory>
#include <string>

#include "agent/handlers/AgentMessageHandler.h"

// The handler of the built-in command of that name (compared byte for byte), or null when
// the agent has no such command.
std::unique_ptr<CAgentMessageHandler> MakeCommandHandler(const std::string& command);
