#include <numeric>

#include "agent/engine/MessageFramer.h"
#include "tests/support/TestBasics.h"

namespace {

using namespace std::string_literals;

// Each row's stream is fed in pieces of each size (0: all at once), to a framer of the row's
// cap. Whatever the pieces, the framer gives the same texts and drops the same, never keeps
// much more than its cap, and keeps nothing once the stream ends with a whole message.
TEST(MessageFramer, TextsComeOutWholeWhereverTheStreamIsCutAndNoneIsKeptOverTheCap) {
    std::string binary(255, '\0');
    std::iota(binary.begin(), binary.end(), '\1');
    const std::string first = "Request=GetState\nTask-Type=7\n";
    const std::string emptyInside = "Reply=One\0\0Reply=Two\0Reply=Three\0"s;
    const std::string atCap(64, 'a');
    const std::string after = "\0Reply=After\0"s;
    const std::string aroundCap = atCap + '\0' + std::string(65, 'b') + after;
    struct Row {
        const char* name;
        std::size_t cap;
        std::string stream;
        std::vector<std::size_t> pieces;
        std::vector<std::string> texts;
        std::size_t overCap = 0;     // messages dropped for their size
        std::size_t afterEmpty = 0;  // bytes dropped after an empty text
    };
    const std::vector<Row> rows = {
        {"two texts", 1000, first + "\0Reply=Done\0"s, {0, 1, 2, 3, 5, 7}, {first, "Reply=Done"}},
        {"every byte but zero", 1000, binary + '\0', {0, 1}, {binary}},
        // An empty text ends the scan of the bytes at hand; the next piece is read again.
        {"empty text", 1000, emptyInside, {21}, {"Reply=One", "Reply=Three"}, 0, 10},
        {"leading zero byte", 1000, "\0"s, {0}, {}},
        {"at and over the cap", 64, aroundCap, {1, 7, 0}, {atCap, "Reply=After"}, 1},
        {"endless bytes", 1000, std::string(300000, 'x') + after, {300}, {"Reply=After"}, 1},
    };
    for (const Row& row : rows) {
        for (const std::size_t size : row.pieces) {
            SCOPED_TRACE(row.name + (" in pieces of " + std::to_string(size)));
            CMessageFramer framer(row.cap);
            std::vector<std::string> framed;
            std::size_t overCap = 0;
            std::size_t afterEmpty = 0;
            const std::size_t piece = size == 0 ? row.stream.size() : size;
            for (std::size_t at = 0; at < row.stream.size(); at += piece) {
                const auto anomalies =
                    framer.Feed(row.stream.data() + at, std::min(piece, row.stream.size() - at),
                                [&](std::string_view text) { framed.emplace_back(text); });
                overCap += anomalies.oversizedEnded;
                afterEmpty += anomalies.droppedAfterEmpty;
                ASSERT_LE(framer.Pending(), row.cap + piece);
            }
            EXPECT_EQ(framed, row.texts);
            EXPECT_EQ(overCap, row.overCap);
            EXPECT_EQ(afterEmpty, row.afterEmpty);
            EXPECT_EQ(framer.Pending(), 0u);
        }
    }
}

}  // namespace
