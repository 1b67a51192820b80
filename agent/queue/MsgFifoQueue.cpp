#include "agent/queue/MsgFifoQueue.h"

#include <algorithm>
#include <iterator>
#include <mutex>

void MsgFifoQueue::Push(msg::IQXMessage* message) {
    std::lock_guard lock(lock_);
    messages_.push_back(Weighed(message));
    bytes_ += messages_.back().weight;
    UpdateEvent();
}

void MsgFifoQueue::PushFront(msg::IQXMessage* message) {
    std::lock_guard lock(lock_);
    messages_.push_front(Weighed(message));
    bytes_ += messages_.front().weight;
    UpdateEvent();
}

msg::IQXMessage* MsgFifoQueue::Pop() {
    std::lock_guard lock(lock_);
    msg::IQXMessage* message = nullptr;
    if (!messages_.empty()) {
        message = Take(messages_.begin());
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
    for (const Entry& entry : messages_) {
        bytes += static_cast<std::size_t>(entry.message->GetTextLength());
        if (bytes > maxBytes) {
            break;
        }
        front.push_back(entry.message);
    }
    return front;
}

std::size_t MsgFifoQueue::Size() const {
    std::lock_guard lock(lock_);
    return messages_.size();
}

std::vector<msg::IQXMessage*> MsgFifoQueue::Contents() const {
    std::lock_guard lock(lock_);
    std::vector<msg::IQXMessage*> contents;
    contents.reserve(messages_.size());
    for (const Entry& entry : messages_) {
        contents.push_back(entry.message);
    }
    return contents;
}

void MsgFifoQueue::SetLimit(std::size_t maxCount, std::size_t maxBytes) {
    std::lock_guard lock(lock_);
    maxCount_ = maxCount;
    maxBytes_ = maxBytes;
    bytes_ = 0;
    for (Entry& entry : messages_) {
        entry = Weighed(entry.message);
        bytes_ += entry.weight;
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

MsgFifoQueue::Entry MsgFifoQueue::Weighed(msg::IQXMessage* message) const {
    if (maxBytes_ == 0 || !message) {
        return {message, 0};
    }
    return {message, static_cast<std::size_t>(message->GetTextLength())};
}

msg::IQXMessage* MsgFifoQueue::Take(Messages::iterator entry) {
    msg::IQXMessage* message = entry->message;
    bytes_ -= entry->weight;
    messages_.erase(entry);
    return message;
}

namespace {

template <typename Iterator>
Iterator Forward(Iterator it) {
    return it;
}
template <typename Iterator>
Iterator Forward(std::reverse_iterator<Iterator> it) {
    return std::prev(it.base());
}

}  // namespace

template <typename Iterator>
msg::IQXMessage* MsgFifoQueue::RemoveMatch(Iterator begin, Iterator end, const IFilter& filter) {
    const auto found = std::find_if(begin, end, [&filter](const Entry& entry) {
        return entry.message && filter.Match(*entry.message);
    });
    if (found == end) {
        return nullptr;
    }
    msg::IQXMessage* message = Take(Forward(found));
    UpdateRoom();
    return message;
}
