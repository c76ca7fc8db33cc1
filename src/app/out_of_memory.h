#pragma once
// How the command-line splitter says it ran out of memory: in the thread's last error on
// Windows (ERROR_OUTOFMEMORY, as the platform's own calls do), in errno elsewhere (ENOMEM).
// One file per platform implements it, so that the splitter itself stays portable.

namespace vesperlin::app {

// Records "out of memory" as the platform's own calls would.
void ReportOutOfMemory() noexcept;
// Whether the last failure recorded is "out of memory"; and clears it, for checking a call.
bool LastFailureIsOutOfMemory() noexcept;
void ClearLastFailure() noexcept;

}  // namespace vesperlin::app
