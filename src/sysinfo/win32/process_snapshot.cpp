#include "sysinfo/win32/process_snapshot.h"

#include <cstddef>
#include <cstdint>

#include "base/grow_buffer.h"
#include "sysinfo/native_records.h"
#include "sysinfo/win32/native_definitions.h"
#include "sysinfo/win32/nt_api.h"

namespace vesperlin::sysinfo::win32 {

namespace {

constexpr std::size_t kInitialBytes = 0x20000;
// A list that outgrows this many attempts, or this size, is not a process list we can read.
// The margin is room for the processes that start between the reading that reports a length
// and the next.
constexpr int kMaxAttempts = 8;
constexpr std::size_t kMaxBytes = std::size_t{256} << 20;
constexpr std::size_t kGrowthMargin = 0x10000;

}  // namespace

ProcessSnapshot::ProcessSnapshot(Messages& messages, bool refreshNow) : messages(messages) {
    // A refused buffer is reported by every Refresh, not here.
    Allocate(kInitialBytes);
    if (refreshNow) Refresh();
}

bool ProcessSnapshot::Allocate(std::size_t bytes) {
    buffer.reset();  // the previous try is never read again: not both at once
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
    // The list grows while we read it: retry with a larger buffer, which is kept for the
    // next Refresh.
    bool refused = false;
    const base::GrowResult read = base::GrowBuffer(
        base::GrowLimits{bufferSize, kMaxBytes, kGrowthMargin, kMaxAttempts},
        [&](std::size_t size) {
            if (size != bufferSize && !Allocate(size)) {
                refused = true;
                return base::TryResult::Failed();
            }
            ULONG written = 0;
            const NTSTATUS status = NtApi.NtQuerySystemInformation(
                kSystemProcessInformation, buffer.get(), static_cast<ULONG>(size), &written);
            if (status == kStatusInfoLengthMismatch) return base::TryResult::TooSmall(written);
            return status == 0 ? base::TryResult::Fits(written) : base::TryResult::Failed();
        });
    if (refused) {
        messages.Show("Couldn't create memory buffer.");
        // Keep a buffer for the next Refresh if the platform still gives one.
        Allocate(kInitialBytes);
        return false;
    }
    if (!read.Fits()) {
        messages.Show("Couldn't query system information.");
        return false;
    }
    // The platform's data decides where the next record is; an offset that leads out of what
    // was written ends the walk.
    listLength = read.used != 0 && read.used <= bufferSize ? read.used : bufferSize;
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

}  // namespace vesperlin::sysinfo::win32
