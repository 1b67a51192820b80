#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "agent/engine/MessageFramer.h"

namespace {

using namespace std::string_literals;

// Feeds the stream in pieces of the given sizes (the rest in one piece) and collects the
// texts and what went wrong.
struct Fed {
    std::vector<std::string> texts;
    CMessageFramer::Anomalies total;
};

Fed FeedInPieces(CMessageFramer& framer, const std::string& stream,
                 const std::vector<std::size_t>& sizes) {
    Fed fed;
    std::size_t position = 0;
    for (std::size_t piece = 0; piece <= sizes.size(); ++piece) {
        const std::size_t length = piece < sizes.size() ? sizes[piece] : stream.size() - position;
        const auto anomalies =
            framer.Feed(stream.data() + position, length,
                        [&](std::string_view text) { fed.texts.emplace_back(text); });
        fed.total.oversizedStarted |= anomalies.oversizedStarted;
        fed.total.oversizedEnded += anomalies.oversizedEnded;
        fed.total.droppedAfterEmpty += anomalies.droppedAfterEmpty;
        position += length;
    }
    return fed;
}

TEST(MessageFramer, MessagesComeOutWholeWhereverTheStreamIsCut) {
    const std::string stream = "Request=GetState\nTask-Type=7\n\0Reply=Done\0"s;
    const std::vector<std::string> expected = {"Request=GetState\nTask-Type=7\n", "Reply=Done"};
    for (std::size_t first = 0; first <= stream.size(); ++first) {
        for (std::size_t second = 0; first + second <= stream.size(); ++second) {
            CMessageFramer framer;
            EXPECT_EQ(FeedInPieces(framer, stream, {first, second}).texts, expected)
                << "cut after " << first << " and " << first + second;
            EXPECT_EQ(framer.Pending(), 0u);
        }
    }
    // Every byte but zero passes unchanged, also when the bytes come one at a time.
    std::string binary;
    for (int byte = 1; byte < 256; ++byte) {
        binary.push_back(static_cast<char>(byte));
    }
    CMessageFramer oneByOne;
    const std::string bytes = binary + '\0' + stream;
    EXPECT_EQ(FeedInPieces(oneByOne, bytes, std::vector<std::size_t>(bytes.size(), 1)).texts,
              (std::vector<std::string>{binary, expected[0], expected[1]}));
}

TEST(MessageFramer, AnEmptyTextEndsTheScanOfTheBytesAtHand) {
    CMessageFramer framer;
    const Fed fed = FeedInPieces(framer, "Reply=One\0\0Reply=Two\0"s, {});
    EXPECT_EQ(fed.texts, std::vector<std::string>{"Reply=One"});
    EXPECT_EQ(fed.total.droppedAfterEmpty, 10u);
    EXPECT_EQ(FeedInPieces(framer, "Reply=Three\0"s, {}).texts,
              std::vector<std::string>{"Reply=Three"});
    const Fed leading = FeedInPieces(framer, "\0"s, {});
    EXPECT_TRUE(leading.texts.empty());
    EXPECT_EQ(leading.total.droppedAfterEmpty, 0u);
}

TEST(MessageFramer, ATextOverTheCapIsDroppedUpToItsZeroByteAndTheStreamGoesOn) {
    const std::size_t cap = 64;
    const std::string atCap(cap, 'a');
    const std::string overCap(cap + 1, 'b');
    for (std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{1000}}) {
        CMessageFramer framer(cap);
        const std::string stream = atCap + '\0' + overCap + '\0' + "Reply=After" + '\0';
        std::vector<std::size_t> sizes(stream.size() / piece, piece);
        const Fed fed = FeedInPieces(framer, stream, sizes);
        EXPECT_EQ(fed.texts, (std::vector<std::string>{atCap, "Reply=After"})) << piece;
        EXPECT_EQ(fed.total.oversizedEnded, 1u) << piece;
    }
}

TEST(MessageFramer, EndlessBytesWithoutAZeroByteKeepNoMoreThanTheCap) {
    const std::size_t cap = 1000;
    CMessageFramer framer(cap);
    const std::string chunk(300, 'x');
    bool started = false;
    for (int i = 0; i < 1000; ++i) {
        const Fed fed = FeedInPieces(framer, chunk, {});
        EXPECT_TRUE(fed.texts.empty());
        started |= fed.total.oversizedStarted;
        ASSERT_LE(framer.Pending(), cap + chunk.size());
    }
    EXPECT_TRUE(started);
    EXPECT_EQ(framer.Pending(), 0u);
    const Fed end = FeedInPieces(framer, "xx\0Reply=After\0"s, {});
    EXPECT_EQ(end.texts, std::vector<std::string>{"Reply=After"});
    EXPECT_EQ(end.total.oversizedEnded, 1u);
}

}  // namespace
