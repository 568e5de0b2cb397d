// Sleep through nanosleep, resumed after signals.
#include "platform/sleep.h"

#include <cerrno>
#include <ctime>

namespace platform {

void SleepMilliseconds(uint32_t milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace platform
