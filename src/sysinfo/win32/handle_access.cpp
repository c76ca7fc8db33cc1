#include "sysinfo/win32/handle_access.h"

namespace vesperlin::sysinfo::win32 {

HandlePassCounters handlePassCounters;

}  // namespace vesperlin::sysinfo::win32
