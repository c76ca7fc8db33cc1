#include "sysinfo/win32/process_snapshot.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "sysinfo/native_records.h"
#include "sysinfo/win32/nt_api.h"

namespace vesperlin::win32 {

namespace {

constexpr ULONG kSystemProcessInformation = 5;
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
constexpr std::size_t kInitialBytes = 0x20000;
// A list that outgrows this many attempts, or this size, is not a process list we can read.
constexpr int kMaxAttempts = 8;
constexpr std::size_t kMaxBytes = std::size_t{256} << 20;

static_assert(sizeof(SYSTEM_PROCESS_INFORMATION) == kProcessRecordSize);
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, ImageName) == kProcessImageNameOffset);
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, UniqueProcessId) == kProcessIdOffset);

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
    listLength = 0;
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
    // The platform's data decides where the next record is; an offset that leads out of what
    // was written ends the walk.
    listLength = written != 0 && written <= bufferSize ? written : bufferSize;
    const auto* base = static_cast<const std::uint8_t*>(buffer.get());
    WalkProcessRecords(ByteSpan(base, listLength), [&](std::size_t offset, std::uint64_t id) {
        index.Insert(static_cast<DWORD>(id), reinterpret_cast<const ProcessEntry*>(base + offset));
    });
    return true;
}

bool ProcessSnapshot::ImageName(const ProcessEntry& entry, std::string& name) const {
    const auto* base = static_cast<const std::uint8_t*>(buffer.get());
    const auto* record = reinterpret_cast<const std::uint8_t*>(&entry);
    if (base == nullptr || record < base || record >= base + listLength) {
        name.clear();
        return false;
    }
    return ReadProcessImageName(ByteSpan(base, listLength), reinterpret_cast<std::uintptr_t>(base),
                                static_cast<std::size_t>(record - base), name);
}

}  // namespace vesperlin::win32
