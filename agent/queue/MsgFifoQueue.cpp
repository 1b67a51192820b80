#include "agent/queue/MsgFifoQueue.h"

#include <algorithm>
#include <iterator>
#include <mutex>

void MsgFifoQueue::Push(msg::IQXMessage* message) {
    std::lock_guard lock(lock_);
    messages_.push_back(message);
    Account(message, true);
    UpdateEvent();
}

void MsgFifoQueue::PushFront(msg::IQXMessage* message) {
    std::lock_guard lock(lock_);
    messages_.push_front(message);
    Account(message, true);
    UpdateEvent();
}

msg::IQXMessage* MsgFifoQueue::Pop() {
    std::lock_guard lock(lock_);
    msg::IQXMessage* message = nullptr;
    if (!messages_.empty()) {
        message = messages_.front();
        messages_.pop_front();
        Account(message, false);
    } else {
        stopRequested_ = false;
    }
    UpdateEvent();
    return message;
}

bool MsgFifoQueue::WaitOnQueue(std::uint32_t timeoutMs) {
    return ready_.Wait(timeoutMs);
}

msg::IQXMessage* MsgFifoQueue::WaitAndPop(std::uint32_t timeoutMs) {
    if (!WaitOnQueue(timeoutMs)) {
        return nullptr;
    }
    return Pop();
}

void MsgFifoQueue::Signal() {
    std::lock_guard lock(lock_);
    stopRequested_ = true;
    UpdateEvent();
}

msg::IQXMessage* MsgFifoQueue::RemoveFirstMatch(const IFilter& filter) {
    std::lock_guard lock(lock_);
    return RemoveMatch(messages_.begin(), messages_.end(), filter);
}

msg::IQXMessage* MsgFifoQueue::RemoveLastMatch(const IFilter& filter) {
    std::lock_guard lock(lock_);
    return RemoveMatch(messages_.rbegin(), messages_.rend(), filter);
}

std::vector<msg::IQXMessage*> MsgFifoQueue::Front(std::size_t maxBytes) const {
    std::lock_guard lock(lock_);
    std::vector<msg::IQXMessage*> front;
    std::size_t bytes = 0;
    for (msg::IQXMessage* message : messages_) {
        bytes += static_cast<std::size_t>(message->GetTextLength());
        if (bytes > maxBytes) {
            break;
        }
        front.push_back(message);
    }
    return front;
}

std::size_t MsgFifoQueue::Size() const {
    std::lock_guard lock(lock_);
    return messages_.size();
}

std::vector<msg::IQXMessage*> MsgFifoQueue::Contents() const {
    std::lock_guard lock(lock_);
    return {messages_.begin(), messages_.end()};
}

void MsgFifoQueue::SetLimit(std::size_t maxCount, std::size_t maxBytes) {
    std::lock_guard lock(lock_);
    maxCount_ = maxCount;
    maxBytes_ = maxBytes;
    bytes_ = 0;
    for (msg::IQXMessage* message : messages_) {
        Account(message, true);
    }
    UpdateRoom();
}

bool MsgFifoQueue::WaitForRoom(std::uint32_t timeoutMs) {
    return room_.Wait(timeoutMs);
}

void MsgFifoQueue::UpdateEvent() {
    if (!messages_.empty() || stopRequested_) {
        ready_.Set();
    } else {
        ready_.Reset();
    }
    UpdateRoom();
}

void MsgFifoQueue::UpdateRoom() {
    count_.store(messages_.size(), std::memory_order_release);
    const bool countRoom = maxCount_ == 0 || messages_.size() < maxCount_;
    const bool byteRoom = maxBytes_ == 0 || bytes_ < maxBytes_;
    if (countRoom && byteRoom) {
        room_.Set();
    } else {
        room_.Reset();
    }
}

std::size_t MsgFifoQueue::Weight(msg::IQXMessage* message) const {
    if (maxBytes_ == 0 || !message) {
        return 0;
    }
    return static_cast<std::size_t>(message->GetTextLength());
}

void MsgFifoQueue::Account(msg::IQXMessage* message, bool added) {
    const std::size_t weight = Weight(message);
    // A message changed while queued may weigh differently now; never wrap below zero.
    bytes_ = added ? bytes_ + weight : bytes_ - std::min(bytes_, weight);
}

namespace {

using Messages = std::deque<msg::IQXMessage*>;

Messages::iterator Forward(Messages::iterator it) {
    return it;
}
Messages::iterator Forward(Messages::reverse_iterator it) {
    return std::prev(it.base());
}

}  // namespace

template <typename Iterator>
msg::IQXMessage* MsgFifoQueue::RemoveMatch(Iterator begin, Iterator end, const IFilter& filter) {
    const auto found = std::find_if(begin, end, [&filter](const msg::IQXMessage* message) {
        return message && filter.Match(*message);
    });
    if (found == end) {
        return nullptr;
    }
    msg::IQXMessage* message = *found;
    messages_.erase(Forward(found));
    Account(message, false);
    UpdateRoom();
    return message;
}
