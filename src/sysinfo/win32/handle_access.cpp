#include "sysinfo/win32/handle_access.h"

namespace vesperlin::win32 {

HandlePassCounters handlePassCounters;

}  // namespace vesperlin::win32
