#include <cerrno>

#include "common/err/GeneralError.h"

namespace err {

std::uint32_t LastSystemError() noexcept {
    return static_cast<std::uint32_t>(errno);
}

}  // namespace err
