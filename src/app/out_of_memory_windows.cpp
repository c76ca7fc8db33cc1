#include <windows.h>

#include "app/out_of_memory.h"

namespace vesperlin::app {

void ReportOutOfMemory() noexcept {
    SetLastError(ERROR_OUTOFMEMORY);
}

bool LastFailureIsOutOfMemory() noexcept {
    return GetLastError() == ERROR_OUTOFMEMORY;
}

void ClearLastFailure() noexcept {
    SetLastError(ERROR_SUCCESS);
}

}  // namespace vesperlin::app
