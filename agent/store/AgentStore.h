#pragma once

#include <string>

#include "agent/queue/MsgFifoQueue.h"
#include "agent/store/AgentState.h"

// The state file: a text archive of the serialisation library holding the six persisted
// state values and then the messages left in the output queue.

// Writes the file afresh. The new file replaces the old one only once it is complete and
// on disk, so a crash during the save leaves the previous file whole. Raises
// util::CFileIOError when the file cannot be written.
void SaveAgentState(const std::string& path, CAgentState& state, const MsgFifoQueue& outputQueue);

// Reads the persisted values back when the file exists; the saved queue is not restored.
// A file that cannot be read (damaged, cut short, of an archive version this build does not
// know) must not keep the agent from working: it is renamed to DamagedPath(path), replacing
// an older one, the state is left as it was, and the reason is returned. Empty when the file
// loaded or did not exist.
std::string LoadAgentState(const std::string& path, CAgentState& state);

// Where a state file that could not be read is kept for a person to look at.
std::string DamagedPath(const std::string& path);
