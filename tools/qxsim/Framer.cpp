#include "tools/qxsim/Framer.h"

#include <stdexcept>

namespace qxsim {

void Framer::Add(const char* data, std::size_t size) {
    bytes_.erase(0, start_);
    start_ = 0;
    bytes_.append(data, size);
    if (bytes_.find('\0') == std::string::npos && bytes_.size() > kMaxMessage) {
        throw std::runtime_error("the agent sent more than 16 MiB without ending a message");
    }
}

std::optional<std::string> Framer::Next() {
    for (;;) {
        const std::size_t end = bytes_.find('\0', start_);
        if (end == std::string::npos) {
            return std::nullopt;
        }
        std::string text = bytes_.substr(start_, end - start_);
        start_ = end + 1;
        if (!text.empty()) {
            return text;
        }
    }
}

}  // namespace qxsim
