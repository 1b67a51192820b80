#pragma once

#include <memory>

#include <corvane/IQXMessage.h>

namespace msg {

// Gives a message back through its Release when its owner goes.
struct MessageReleaser {
    void operator()(IQXMessage* message) const { message->Release(); }
};

// The one owner of a message inside the agent: whoever holds it releases the message on
// every path, an exception's included; release() hands it on to a queue or a caller.
using MessagePtr = std::unique_ptr<IQXMessage, MessageReleaser>;

}  // namespace msg
