#include "common/lang/CurrentThread.h"

#include <windows.h>

namespace lang {

std::uint32_t CurrentThreadId() {
    return ::GetCurrentThreadId();
}

}  // namespace lang
