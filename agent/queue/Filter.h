#pragma once

#include <corvane/IQXMessage.h>

// A predicate over messages, used to pick messages out of a queue.
class IFilter {
public:
    virtual ~IFilter() = default;
    virtual bool Match(const msg::IQXMessage& message) const = 0;
};

// Matches the messages parked in the message sink under one sink type.
class CSinkFilter final : public IFilter {
public:
    explicit CSinkFilter(int sinkType) : sinkType_(sinkType) {}
    bool Match(const msg::IQXMessage& message) const override {
        return message.GetFieldInt("SinkType") == sinkType_;
    }

private:
    int sinkType_;
};
