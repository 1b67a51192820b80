#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include <corvane/IQXMessage.h>

#include "agent/queue/Filter.h"
#include "common/lang/CriticalSection.h"
#include "common/lang/Event.h"

// A locked first-in, first-out queue of message pointers with an event that wakes one
// waiting consumer per message. The queue passes pointers on and never releases a message:
// a message belongs to whoever has taken it out, and destroying the queue leaves the
// messages still in it alone.
//
// A consumer that gets null from WaitAndPop without a time-out takes it as the request to
// stop. Signal makes that request; it is kept until the messages queued before or after it
// have been drained, so a consumer always empties its queue before it stops.
//
// A queue may be given a limit. Push never waits, so no producer is ever held up by
// another; a producer that must respect the limit waits for room before it pushes.
class MsgFifoQueue {
public:
    MsgFifoQueue() = default;
    MsgFifoQueue(const MsgFifoQueue&) = delete;
    MsgFifoQueue& operator=(const MsgFifoQueue&) = delete;

    void Push(msg::IQXMessage* message);
    // Puts a message taken out back in front of the others, as if it had not been taken.
    void PushFront(msg::IQXMessage* message);
    // The oldest message, or null when there is none (taking a pending stop request).
    // Does not wait.
    msg::IQXMessage* Pop();
    // True when the queue was signalled within the time-out in milliseconds.
    bool WaitOnQueue(std::uint32_t timeoutMs);
    // Waits for the queue to be signalled and pops; null after a time-out or a stop request.
    msg::IQXMessage* WaitAndPop(std::uint32_t timeoutMs);
    // Asks the consumer to stop once the queue is empty.
    void Signal();
    // Removes the matching message nearest the front (First) or the back (Last), leaving
    // the others in order and the event as it is; null when none matches.
    msg::IQXMessage* RemoveFirstMatch(const IFilter& filter);
    msg::IQXMessage* RemoveLastMatch(const IFilter& filter);
    // The oldest messages, left in the queue: as many as fit together in maxBytes of text
    // (GetTextLength). For a queue's only consumer, in front of which they stay until it
    // takes them out.
    std::vector<msg::IQXMessage*> Front(std::size_t maxBytes) const;
    std::size_t Size() const;
    // The number of queued messages as last changed, read without the lock: for a thread that
    // looks at the queue over and over while others push and pop.
    std::size_t Glance() const { return count_.load(std::memory_order_acquire); }
    // The messages in queue order, still owned by the queue (for saving them).
    std::vector<msg::IQXMessage*> Contents() const;

    // Room is there while fewer than maxCount messages and fewer than maxBytes bytes of
    // message text (GetTextLength) are queued; 0 leaves that measure unbounded.
    void SetLimit(std::size_t maxCount, std::size_t maxBytes);
    // True when there is room within the time-out in milliseconds.
    bool WaitForRoom(std::uint32_t timeoutMs);

private:
    // With the lock held: the event is signalled if and only if there is something for
    // a consumer to take, a message or a stop request.
    void UpdateEvent();
    // With the lock held, after every change: the room event is signalled if and only if the
    // limit allows more, and Glance sees the new count.
    void UpdateRoom();
    // A queued message with the bytes it was counted for against the limit when it came in,
    // which it gives back when it goes even if it was changed meanwhile.
    struct Entry {
        msg::IQXMessage* message;
        std::size_t weight;
    };
    using Messages = std::deque<Entry>;

    // With the lock held: the message with the bytes it counts for against the limit.
    Entry Weighed(msg::IQXMessage* message) const;
    // With the lock held: removes the entry and gives back its bytes.
    msg::IQXMessage* Take(Messages::iterator entry);
    template <typename Iterator>
    msg::IQXMessage* RemoveMatch(Iterator begin, Iterator end, const IFilter& filter);

    Messages messages_;
    mutable lang::CriticalSection lock_;
    lang::CEvent ready_{lang::EventReset::Auto};
    bool stopRequested_ = false;
    lang::CEvent room_{lang::EventReset::Manual, true};
    std::size_t maxCount_ = 0;
    std::size_t maxBytes_ = 0;
    std::size_t bytes_ = 0;
    std::atomic<std::size_t> count_{0};
};
