// The walk over a process list (information class 5) and the reading of its image names, on any
// buffer written at kBufferAddress; the records are indexed as the process snapshot does.
#include <vector>

#include "native_fuzz.h"
#include "sysinfo/native_records.h"
#include "sysinfo/process_index.h"

using namespace vesperlin::sysinfo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteSpan list(data, size);
    ProcessIndex<std::uint8_t> index;
    std::vector<std::size_t> offsets;
    WalkProcessRecords(list, [&](std::size_t offset, std::uint64_t processId) {
        FUZZ_CHECK(offset <= size && size - offset >= kProcessRecordSize);
        FUZZ_CHECK(offsets.empty() || offset > offsets.back());
        offsets.push_back(offset);
        index.Insert(static_cast<ProcessId>(processId), data + offset);
    });
    FUZZ_CHECK(index.Count() <= offsets.size());
    std::size_t walked = 0;
    index.Walk([&](ProcessId processId, const std::uint8_t& record) {
        FUZZ_CHECK(index.Lookup(processId) == &record);
        ++walked;
    });
    FUZZ_CHECK(walked == index.Count());

    for (std::size_t offset : offsets) {
        std::string name = "?";
        if (ReadProcessImageName(list, vesperlin::fuzz::kBufferAddress, offset, name)) {
            vesperlin::fuzz::CheckConverted(name);
        } else {
            FUZZ_CHECK(name.empty());
        }
    }
    // An offset that names no whole record is refused, never read past the list.
    std::string name;
    ReadProcessImageName(list, vesperlin::fuzz::kBufferAddress, size, name);
    if (size > 8) ReadProcessImageName(list, vesperlin::fuzz::kBufferAddress, size - 8, name);
    return 0;
}
