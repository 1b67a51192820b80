#include <windows.h>

#include "common/err/GeneralError.h"

namespace err {

std::uint32_t LastSystemError() noexcept {
    return ::GetLastError();
}

}  // namespace err
