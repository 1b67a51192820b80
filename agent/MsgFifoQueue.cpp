#include "agent/MsgFifoQueue.h"

#include <algorithm>
#include <iterator>
#include <mutex>

void MsgFifoQueue::Push(msg::IQXMessage* message) {
    std::lock_guard lock(lock_);
    messages_.push_back(message);
    UpdateEvent();
}

msg::IQXMessage* MsgFifoQueue::Pop() {
    std::lock_guard lock(lock_);
    msg::IQXMessage* message = nullptr;
    if (!messages_.empty()) {
        message = messages_.front();
        messages_.pop_front();
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

std::size_t MsgFifoQueue::Size() const {
    std::lock_guard lock(lock_);
    return messages_.size();
}

std::vector<msg::IQXMessage*> MsgFifoQueue::Contents() const {
    std::lock_guard lock(lock_);
    return {messages_.begin(), messages_.end()};
}

void MsgFifoQueue::UpdateEvent() {
    if (!messages_.empty() || stopRequested_) {
        ready_.Set();
    } else {
        ready_.Reset();
    }
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
    return message;
}
