#pragma once

#include <string>

#include "agent/AgentState.h"
#include "agent/MsgFifoQueue.h"

// The state file: a text archive of the serialisation library holding the six persisted
// state values and then the messages left in the output queue.

// Writes the file afresh. The new file replaces the old one only once it is complete and
// on disk, so a crash during the save leaves the previous file whole. Raises
// util::CFileIOError when the file cannot be written.
void SaveAgentState(const std::string& path, CAgentState& state, const MsgFifoQueue& outputQueue);

// Reads the persisted values back when the file exists; the saved queue is not restored.
// A file the archive cannot read raises the archive's own error and is left unchanged.
void LoadAgentState(const std::string& path, CAgentState& state);
