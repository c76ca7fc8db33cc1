#include "sysinfo/win32/process_snapshot.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "sysinfo/win32/nt_api.h"

namespace vesperlin::win32 {

namespace {

constexpr ULONG kSystemProcessInformation = 5;
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
constexpr std::size_t kInitialBytes = 0x20000;
// A list that outgrows this many attempts, or this size, is not a process list we can read.
constexpr int kMaxAttempts = 8;
constexpr std::size_t kMaxBytes = std::size_t{256} << 20;

#ifdef _WIN64
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, ImageName) == 0x38);
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, UniqueProcessId) == 0x50);
#endif

}  // namespace

ProcessSnapshot::ProcessSnapshot(Messages& messages, bool refreshNow) : messages(messages) {
    // A refused buffer is reported by every Refresh, not here.
    Allocate(kInitialBytes);
    if (refreshNow) Refresh();
}

bool ProcessSnapshot::Allocate(std::size_t bytes) {
    buffer.reset(VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    bufferSize = buffer ? bytes : 0;
    return static_cast<bool>(buffer);
}

bool ProcessSnapshot::Refresh() {
    index.Clear();
    if (!ntApiBound) {
        messages.Show("Cant' load NT Dlls.");
        return false;
    }
    if (!buffer) {
        messages.Show("Couldn't create memory buffer.");
        return false;
    }
    // The list grows while we read it: retry with a larger buffer, trusting the reported
    // length only when it is larger than what we already tried.
    ULONG written = 0;
    NTSTATUS status = kInfoLengthMismatch;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        written = 0;
        status = NtApi.NtQuerySystemInformation(kSystemProcessInformation, buffer.get(),
                                                static_cast<ULONG>(bufferSize), &written);
        if (status != kInfoLengthMismatch) break;
        std::size_t next = bufferSize * 2;
        if (written > bufferSize)
            next = std::max(next, std::size_t{written} + std::size_t{written} / 4);
        if (next > kMaxBytes) break;
        if (!Allocate(next)) {
            messages.Show("Couldn't create memory buffer.");
            // Keep a buffer for the next Refresh if the platform still gives one.
            Allocate(kInitialBytes);
            return false;
        }
    }
    if (status != 0) {
        messages.Show("Couldn't query system information.");
        return false;
    }
    // Walk the records with bounds checks: the platform's data decides where the next one is,
    // and an offset that leads out of what was written ends the walk.
    const std::size_t end = written != 0 && written <= bufferSize ? written : bufferSize;
    const auto* base = static_cast<const std::uint8_t*>(buffer.get());
    std::size_t offset = 0;
    while (offset + sizeof(ProcessEntry) <= end) {
        const auto* entry = reinterpret_cast<const ProcessEntry*>(base + offset);
        index.Insert(static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(entry->UniqueProcessId)),
                     entry);
        if (entry->NextEntryOffset == 0) break;
        offset += entry->NextEntryOffset;
    }
    return true;
}

}  // namespace vesperlin::win32
