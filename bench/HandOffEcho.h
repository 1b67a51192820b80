#pragma once

// The least a peer can do that hands every message to a thread of its own, as the agent must
// so that a slow message never holds up the next one: how much the handing over alone can
// carry, with no parsing, toolbox or log on top.
//
// The calling thread reads 64 KiB at a time, cuts the messages at their zero bytes and queues
// them together; for each one that no worker between messages will take, it wakes a parked
// worker or starts one (at most 64). A worker copies its message
// into the replies and takes the next queued one; with none queued it looks at the queue for a
// while before it parks. A writing thread sends every queued reply in one call. Returns when
// the other side closes.
void RunHandOffEcho(int socket);
