// The rows of a system handle table (information class 64) from any reply.
#include "native_fuzz.h"
#include "sysinfo/native_records.h"

using namespace vesperlin::sysinfo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ByteSpan table(data, size);
    std::size_t rows = 0;
    if (!CountHandleTableRows(table, rows)) {
        FUZZ_CHECK(size < kHandleTableHeaderSize && rows == 0);
        return 0;
    }
    FUZZ_CHECK(kHandleTableHeaderSize + rows * kHandleTableRowSize <= size);
    std::uint64_t claimed = 0;
    for (std::size_t i = 0; i < sizeof(claimed); ++i)
        claimed |= static_cast<std::uint64_t>(data[i]) << (8 * i);
    // Every row the table claims and the reply holds, and no other.
    FUZZ_CHECK(rows == claimed || kHandleTableHeaderSize + (rows + 1) * kHandleTableRowSize > size);
    FUZZ_CHECK(rows <= claimed);
    // Every row is read (the address sanitizer watches the reads); the sum keeps the compiler
    // from leaving them out.
    static volatile std::uint64_t sink = 0;
    for (std::size_t i = 0; i < rows; ++i) {
        const HandleTableRow row = ReadHandleTableRow(table, i);
        sink =
            sink + row.UniqueProcessId + row.HandleValue + row.GrantedAccess + row.ObjectTypeIndex;
    }
    return 0;
}
