// Cuts a byte stream into the pieces the input names and feeds them to the framer, with a
// small cap so that the paths for oversized messages are reached. The first byte chooses
// the piece sizes. Every text comes out without its zero byte and within the cap; and when
// no empty text can end a Feed early, the texts are those of the stream fed whole, however
// it was cut.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "agent/engine/MessageFramer.h"

namespace {

constexpr std::size_t kCap = 64;

std::vector<std::string> Texts(std::string_view stream, std::size_t pieceSize) {
    CMessageFramer framer(kCap);
    std::vector<std::string> texts;
    const auto keep = [&texts](std::string_view text) {
        if (text.size() > kCap || text.find('\0') != std::string_view::npos) {
            __builtin_trap();
        }
        texts.emplace_back(text);
    };
    for (std::size_t at = 0; at < stream.size(); at += pieceSize) {
        const std::string_view piece = stream.substr(at, pieceSize);
        framer.Feed(piece.data(), piece.size(), keep);
        if (framer.Pending() > kCap) {
            __builtin_trap();
        }
    }
    return texts;
}

// An empty text is a zero byte where a message begins: at the start or after a zero byte.
bool HasEmptyText(std::string_view stream) {
    return (!stream.empty() && stream.front() == '\0') ||
           stream.find(std::string_view("\0\0", 2)) != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t pieceSize = data[0] % 16 + 1;
    const std::vector<std::string> cut = Texts(stream, pieceSize);
    if (!HasEmptyText(stream) && cut != Texts(stream, stream.size() + 1)) {
        __builtin_trap();
    }
    return 0;
}
