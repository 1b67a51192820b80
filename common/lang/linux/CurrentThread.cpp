#include "common/lang/CurrentThread.h"

#include <unistd.h>

namespace lang {

std::uint32_t CurrentThreadId() {
    return static_cast<std::uint32_t>(::gettid());
}

}  // namespace lang
