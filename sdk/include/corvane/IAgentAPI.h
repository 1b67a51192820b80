#pragma once

// The agent as toolboxes see it: the callbacks through which a toolbox answers the server,
// logs, parks messages and runs the agent's own commands. The order of the virtual
// operations below is the binary contract between the agent and every toolbox built against
// it: never reorder, insert or remove one, or toolboxes already in the field call the wrong
// operation.

#include <cstdint>
#include <string>

#include <corvane/IQXMessage.h>
#include <corvane/PrintfFormat.h>

// Every operation may be called from many threads at once; the agent serialises what needs
// it. The pointer a toolbox is handed is valid for the duration of the call that received it.
class IAgentAPI {
public:
    // Slot 0. No effect on the agent; kept for the slot order.
    virtual void UserInput() = 0;
    // Slot 1. Runs the agent's built-in command of that name on the message and returns
    // true. When no command has that name the message is cleared, gets the lead pair
    // <command>=BadCommand, and the result is false.
    virtual bool AgentCommand(const std::string& command, msg::IQXMessage* message) = 0;
    // Slot 2. Offers the message to the toolbox chain on the calling thread; true once the
    // chain is done.
    virtual bool InvokeHandler(msg::IQXMessage* message) = 0;
    // Slot 3. Writes one printf-formatted line to the agent log at a level: 0 error,
    // 1 information, 2 debug. By convention the format starts with "%s:%d " filled with the
    // caller's source file name and line.
    virtual void Log(int level, const char* format, ...) CORVANE_PRINTF_FORMAT(3, 4) = 0;
    // Slot 4. A new empty message, owned by the caller.
    virtual msg::IQXMessage* NewMessage() = 0;
    // Slot 5. Queues the message for the server; the agent takes ownership.
    virtual void Send(msg::IQXMessage* message) = 0;
    // Slot 6. Removes and returns the oldest message of the sink whose "SinkType" field
    // equals the sink type; the caller takes ownership. Null when there is none.
    virtual msg::IQXMessage* FetchFromMessageSink(std::int32_t sinkType) = 0;
    // Slot 7. As slot 6, but the newest such message.
    virtual msg::IQXMessage* FetchFromMessageSinkReverse(std::int32_t sinkType) = 0;
    // Slot 8. Sets the message's "SinkType" field to the sink type and appends the message to
    // the sink, which all toolboxes share; the agent takes ownership.
    virtual void AddToMessageSink(msg::IQXMessage* message, std::int32_t sinkType) = 0;
    // Slot 9, which takes two entries of the table: the destructor and the deleting one.
    virtual ~IAgentAPI() = default;

protected:
    IAgentAPI() = default;
    IAgentAPI(const IAgentAPI&) = default;
    IAgentAPI& operator=(const IAgentAPI&) = default;
};
