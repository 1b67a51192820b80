#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// Cuts the byte stream from the server into message texts. A message is its text and one
// zero byte; bytes of a message not yet ended are kept for the next Feed, so a message
// comes out whole however the stream was cut. A text longer than the cap is dropped up to
// its zero byte, and the stream goes on after it. An empty text (a zero byte where a
// message should begin) ends the scan of the bytes of that Feed: the bytes after it are
// dropped.
class CMessageFramer {
public:
    static constexpr std::size_t kMaxMessageBytes = std::size_t{16} << 20;

    // What one Feed met besides whole messages, for the caller's log.
    struct Anomalies {
        // The kept text passed the cap: the framer now drops bytes up to the next zero byte.
        bool oversizedStarted = false;
        // Messages dropped for their size whose zero byte arrived in this Feed.
        std::size_t oversizedEnded = 0;
        // Bytes dropped after an empty text.
        std::size_t droppedAfterEmpty = 0;
    };

    using TextHandler = std::function<void(std::string_view text)>;

    explicit CMessageFramer(std::size_t maxMessageBytes = kMaxMessageBytes);

    // Calls onText for every message whose zero byte is among these bytes, in order.
    Anomalies Feed(const char* bytes, std::size_t length, const TextHandler& onText);
    // The bytes kept of a message whose zero byte has not arrived yet.
    std::size_t Pending() const { return pending_.size(); }

private:
    // Handles the bytes up to the zero byte at end; returns false when the text is over the cap.
    bool Complete(std::string_view tail, const TextHandler& onText);
    void StartDropping(Anomalies& anomalies);

    const std::size_t maxMessageBytes_;
    std::string pending_;
    bool dropping_ = false;
};
