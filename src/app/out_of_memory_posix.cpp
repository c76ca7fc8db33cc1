#include <cerrno>

#include "app/out_of_memory.h"

namespace vesperlin::app {

void ReportOutOfMemory() noexcept {
    errno = ENOMEM;
}

bool LastFailureIsOutOfMemory() noexcept {
    return errno == ENOMEM;
}

void ClearLastFailure() noexcept {
    errno = 0;
}

}  // namespace vesperlin::app
