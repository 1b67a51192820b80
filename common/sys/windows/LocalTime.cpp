#include "common/sys/LocalTime.h"

#include <time.h>

namespace sys {

std::tm LocalTime(std::time_t seconds) {
    std::tm local{};
    ::localtime_s(&local, &seconds);
    return local;
}

}  // namespace sys
