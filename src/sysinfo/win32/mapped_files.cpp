#include "sysinfo/win32/mapped_files.h"

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

#include "base/win32/wide_text.h"
#include "sysinfo/win32/process_snapshot.h"
#include "base/win32/unique_handle.h"

namespace vesperlin::sysinfo::win32 {

namespace {

// The longest name the platform gives an object, in UTF-16 units, and its NUL.
constexpr DWORD kNameUnits = 32768;
// Threads walking address spaces at once, the caller's included.
constexpr std::size_t kWalkers = 8;

std::uintptr_t EndOf(const MEMORY_BASIC_INFORMATION& region) {
    return reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
}

// Where an image loaded at `base` ends by its own header; 0 when that cannot be read.
std::uintptr_t ImageEndByHeader(HANDLE process, const void* base) {
    alignas(8) unsigned char header[1024];
    SIZE_T read = 0;
    if (!ReadProcessMemory(process, base, header, sizeof header, &read)) return 0;
    IMAGE_DOS_HEADER dos;
    if (read < sizeof dos) return 0;
    std::memcpy(&dos, header, sizeof dos);
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0) return 0;
    // SizeOfImage sits at the same place in the 32-bit and the 64-bit optional header.
    const std::size_t nt = static_cast<std::size_t>(dos.e_lfanew);
    const std::size_t at = nt + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                           offsetof(IMAGE_OPTIONAL_HEADER32, SizeOfImage);
    if (at + sizeof(DWORD) > read) return 0;
    DWORD signature = 0, size = 0;
    std::memcpy(&signature, header + nt, sizeof signature);
    std::memcpy(&size, header + at, sizeof size);
    if (signature != IMAGE_NT_SIGNATURE || size == 0) return 0;
    return reinterpret_cast<std::uintptr_t>(base) + size;
}

// Where to go on after `region`, the first region of an image. An image has a region for
// each section, none of them a view; its header says where it ends, and the region at its
// last page, if it is still the image's, shows that no other allocation lies in between (an
// allocation is one range). Two questions instead of one per section. `queries` counts them.
std::uintptr_t PastImage(HANDLE process, const MEMORY_BASIC_INFORMATION& region,
                         std::size_t& queries) {
    const std::uintptr_t next = EndOf(region);
    ++queries;
    const std::uintptr_t end = ImageEndByHeader(process, region.AllocationBase);
    if (end <= next) return next;
    MEMORY_BASIC_INFORMATION last{};
    ++queries;
    if (mappedRegionQuery(process, reinterpret_cast<const void*>(end - 1), &last, sizeof last) !=
            sizeof last ||
        last.AllocationBase != region.AllocationBase || EndOf(last) <= next)
        return next;
    return EndOf(last);
}

}  // namespace

MappedPassCounters mappedPassCounters;
VirtualQueryExFn mappedRegionQuery = VirtualQueryEx;

bool ListMappedFileNames(HANDLE process, const NameTailFilter* filter,
                         std::vector<std::string>& names, std::atomic<ULONGLONG>* answered) {
    names.clear();
    std::wstring name(kNameUnits + 1, L'\0');
    std::string narrow;
    const void* named = nullptr;  // the allocation whose name was asked last
    bool read = false;
    MEMORY_BASIC_INFORMATION region{};
    std::size_t spaceQueries = 0, nameQueries = 0;
    for (std::uintptr_t address = 0;;) {
        ++spaceQueries;
        if (mappedRegionQuery(process, reinterpret_cast<const void*>(address), &region,
                              sizeof region) != sizeof region)
            break;  // past the top of the user address space, or the process is gone
        if (answered) *answered = GetTickCount64();
        read = true;
        // A view is one allocation, which may span regions of different protection: its name
        // is asked once. Each question is a round trip to the other process's memory manager.
        if (region.Type == MEM_MAPPED && region.AllocationBase != named) {
            named = region.AllocationBase;
            ++nameQueries;
            const DWORD units =
                GetMappedFileNameW(process, region.BaseAddress, name.data(), kNameUnits);
            if (units > 0 && units < kNameUnits &&
                (!filter ||
                 filter->Admits(reinterpret_cast<const char16_t*>(name.data()), units))) {
                name[units] = L'\0';
                narrow = base::NarrowFromWide(name.c_str());
                if (std::find(names.begin(), names.end(), narrow) == names.end())
                    names.push_back(narrow);
            }
        }
        const std::uintptr_t next =
            region.Type == MEM_IMAGE && region.BaseAddress == region.AllocationBase
                ? PastImage(process, region, spaceQueries)
                : EndOf(region);
        if (next <= address) break;
        address = next;
    }
    mappedPassCounters.processesWalked += 1;
    mappedPassCounters.spaceQueries += spaceQueries;
    mappedPassCounters.nameQueries += nameQueries;
    return read;
}

namespace {

struct ProcessViews {
    std::vector<std::string> names;
    bool denied = false;  // not to be opened, or given up for want of an answer
};

// Processes given up while their walker still waits for an answer, for the whole program: a
// later walk does not send another walker to wait just the same. Never destroyed: a walker
// that is still waiting when the program ends may wake up while its statics are torn down.
struct UnansweredProcesses {
    std::mutex lock;
    std::vector<DWORD> ids;
};

UnansweredProcesses& Unanswered() {
    static auto* const unanswered = new UnansweredProcesses;
    return *unanswered;
}

bool IsUnanswered(DWORD processId) {
    UnansweredProcesses& unanswered = Unanswered();
    std::lock_guard<std::mutex> guard(unanswered.lock);
    return std::find(unanswered.ids.begin(), unanswered.ids.end(), processId) !=
           unanswered.ids.end();
}

void SetUnanswered(DWORD processId, bool waiting) {
    UnansweredProcesses& unanswered = Unanswered();
    std::lock_guard<std::mutex> guard(unanswered.lock);
    const auto at = std::find(unanswered.ids.begin(), unanswered.ids.end(), processId);
    if (waiting && at == unanswered.ids.end()) unanswered.ids.push_back(processId);
    if (!waiting && at != unanswered.ids.end()) unanswered.ids.erase(at);
}

ProcessViews WalkProcess(DWORD processId, const NameTailFilter* filter,
                         std::atomic<ULONGLONG>& answered) {
    ProcessViews views;
    base::UniqueKernelHandle process(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    if (!process) {
        // Skipped silently, as in the module walk; counted so a front end can say so.
        views.denied = GetLastError() == ERROR_ACCESS_DENIED;
        return views;
    }
    try {
        ListMappedFileNames(process.get(), filter, views.names, &answered);
    } catch (const std::bad_alloc&) {
        // Out of memory on a walker: the process keeps what was found; nothing escapes the
        // thread.
    }
    return views;
}

// One walk, shared by the snapshot and its walker threads: a walker that was given up may
// outlive the snapshot, and finds everything it touches still here.
struct Walk {
    struct Walker {
        bool active = true;  // false once finished or given up
        bool busy = false;   // on ids[current]
        std::size_t current = 0;
        std::atomic<ULONGLONG> answered{0};
    };

    std::vector<DWORD> ids;
    std::shared_ptr<const NameTailFilter> filter;
    std::mutex lock;  // guards everything below but `answered`
    std::size_t next = 0;
    std::vector<ProcessViews> found;
    std::deque<Walker> walkers;  // stable addresses
    std::size_t running = 0;
    base::UniqueKernelHandle finished{CreateEventA(nullptr, TRUE, FALSE, nullptr)};

    void Stop(Walker& walker) {  // under lock
        walker.active = false;
        if (--running == 0) SetEvent(finished.get());
    }
};

void RunWalker(const std::shared_ptr<Walk>& walk, Walk::Walker& self) {
    for (;;) {
        std::size_t i = 0;
        {
            std::lock_guard<std::mutex> guard(walk->lock);
            if (!self.active) return;
            if (walk->next == walk->ids.size()) {
                walk->Stop(self);
                return;
            }
            i = walk->next++;
            self.current = i;
            self.busy = true;
            self.answered = GetTickCount64();
        }
        ProcessViews views = WalkProcess(walk->ids[i], walk->filter.get(), self.answered);
        std::lock_guard<std::mutex> guard(walk->lock);
        if (!self.active) {
            // Given up on while it waited: the walk has gone on without this process.
            SetUnanswered(walk->ids[i], false);
            return;
        }
        self.busy = false;
        walk->found[i] = std::move(views);
    }
}

// Starts one more walker; false when no thread could be made. Under the walk's lock.
bool StartWalker(const std::shared_ptr<Walk>& walk) {
    Walk::Walker& walker = walk->walkers.emplace_back();
    try {
        std::thread([walk, &walker] { RunWalker(walk, walker); }).detach();
    } catch (const std::system_error&) {
        walk->walkers.pop_back();
        return false;
    }
    ++walk->running;
    return true;
}

}  // namespace

bool MappedFileSnapshot::Refresh() {
    entries.clear();
    deniedProcesses.clear();
    ProcessSnapshot processes(messages, true);
    if (processes.Count() == 0) return false;
    auto walk = std::make_shared<Walk>();
    walk->filter = filter;
    processes.Walk([&](DWORD processId, const ProcessEntry&) {
        if (std::find(skipped.begin(), skipped.end(), processId) != skipped.end()) return;
        // A process still keeping an earlier walker waiting is not asked again.
        if (IsUnanswered(processId))
            deniedProcesses.push_back(processId);
        else
            walk->ids.push_back(processId);
    });
    walk->found.resize(walk->ids.size());

    // Every question is a round trip to another process's memory manager (under Wine, to the
    // one server): several walkers keep several in flight. Each process's answer has its own
    // slot, so the list keeps the process snapshot's order. This thread only watches: a walker
    // whose question goes unanswered too long is given up, and another takes its place.
    bool watching = false;
    if (walk->finished) {
        std::lock_guard<std::mutex> guard(walk->lock);
        while (walk->walkers.size() < std::min(kWalkers, walk->ids.size()) && StartWalker(walk)) {
        }
        watching = walk->running > 0;
    }
    if (!watching) {
        // No thread to be had: walked here, unwatched.
        std::atomic<ULONGLONG> answered{0};
        for (std::size_t i = 0; i < walk->ids.size(); ++i)
            walk->found[i] = WalkProcess(walk->ids[i], walk->filter.get(), answered);
    }
    while (watching && WaitForSingleObject(walk->finished.get(), 100) == WAIT_TIMEOUT) {
        std::lock_guard<std::mutex> guard(walk->lock);
        const ULONGLONG now = GetTickCount64();
        // By index: a walker started here joins the deque as it is walked.
        for (std::size_t w = 0, count = walk->walkers.size(); w < count; ++w) {
            Walk::Walker& walker = walk->walkers[w];
            if (!walker.active || !walker.busy || now - walker.answered < MappedWalkAnswerLimitMs)
                continue;
            SetUnanswered(walk->ids[walker.current], true);
            walk->found[walker.current].denied = true;
            // The new walker first, so that the count of running ones never passes 0 early.
            if (walk->next < walk->ids.size()) StartWalker(walk);
            walk->Stop(walker);
        }
    }

    std::lock_guard<std::mutex> guard(walk->lock);
    // Left over only when no walker could be started in place of one given up: not inspected.
    if (watching)
        for (std::size_t i = walk->next; i < walk->ids.size(); ++i) walk->found[i].denied = true;
    for (std::size_t i = 0; i < walk->ids.size(); ++i) {
        if (walk->found[i].denied) deniedProcesses.push_back(walk->ids[i]);
        for (std::string& name : walk->found[i].names)
            entries.push_back({walk->ids[i], std::move(name)});
    }
    return true;
}

}  // namespace vesperlin::sysinfo::win32
