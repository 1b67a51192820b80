#include "agent/engine/MessageFramer.h"

#include <cstring>

CMessageFramer::CMessageFramer(std::size_t maxMessageBytes) : maxMessageBytes_(maxMessageBytes) {}

CMessageFramer::Anomalies CMessageFramer::Feed(const char* bytes, std::size_t length,
                                               const TextHandler& onText) {
    Anomalies anomalies;
    std::size_t position = 0;
    while (position < length) {
        const char* start = bytes + position;
        const std::size_t left = length - position;
        const auto* zero = static_cast<const char*>(std::memchr(start, 0, left));
        if (dropping_) {
            if (!zero) {
                break;
            }
            dropping_ = false;
            ++anomalies.oversizedEnded;
        } else if (!zero) {
            pending_.append(start, left);
            if (pending_.size() > maxMessageBytes_) {
                StartDropping(anomalies);
            }
            break;
        } else if (zero == start && pending_.empty()) {
            anomalies.droppedAfterEmpty = left - 1;
            break;
        } else if (!Complete({start, static_cast<std::size_t>(zero - start)}, onText)) {
            ++anomalies.oversizedEnded;
        }
        position = static_cast<std::size_t>(zero - bytes) + 1;
    }
    return anomalies;
}

bool CMessageFramer::Complete(std::string_view tail, const TextHandler& onText) {
    if (pending_.size() + tail.size() > maxMessageBytes_) {
        pending_.clear();
        return false;
    }
    if (pending_.empty()) {
        onText(tail);
        return true;
    }
    pending_.append(tail);
    std::string text;
    text.swap(pending_);
    onText(text);
    return true;
}

void CMessageFramer::StartDropping(Anomalies& anomalies) {
    // Give the memory back: a stream without zero bytes must not keep it.
    std::string().swap(pending_);
    dropping_ = true;
    anomalies.oversizedStarted = true;
}
