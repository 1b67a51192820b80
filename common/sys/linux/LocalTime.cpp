#include "common/sys/LocalTime.h"

#include <time.h>

namespace sys {

std::tm LocalTime(std::time_t seconds) {
    std::tm local{};
    ::localtime_r(&seconds, &local);
    return local;
}

}  // namespace sys
