#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace qxsim {

// Cuts the byte stream of one connection into message texts at their zero bytes, keeping an
// unfinished text between reads.
class Framer {
public:
    // A text that grows past this without its zero byte ends the connection.
    static constexpr std::size_t kMaxMessage = 16u << 20;

    // Throws std::runtime_error when an unfinished text passes kMaxMessage.
    void Add(const char* data, std::size_t size);
    // The next whole text, if one has arrived; empty texts (two zero bytes in a row) are
    // skipped.
    std::optional<std::string> Next();
    // Bytes of a text whose zero byte has not arrived yet.
    std::size_t Unfinished() const { return bytes_.size() - start_; }

private:
    std::string bytes_;
    std::size_t start_ = 0;
};

}  // namespace qxsim
