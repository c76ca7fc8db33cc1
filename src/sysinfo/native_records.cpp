#include "sysinfo/native_records.h"

#include <algorithm>
#include <cstring>

#include "base/text.h"

namespace vesperlin::sysinfo {

namespace {

// Whether `length` bytes from `offset` lie inside a buffer of `size` bytes.
bool Inside(std::size_t size, std::size_t offset, std::size_t length) {
    return offset <= size && size - offset >= length;
}

// A field copied out of the buffer; the caller has checked that it lies inside. The platform
// writes its records in the byte order of the machine that reads them (little-endian).
template <typename Value>
Value Field(ByteSpan buffer, std::size_t offset) {
    Value value;
    std::memcpy(&value, buffer.data() + offset, sizeof(value));
    return value;
}

struct CountedTextRecord {
    std::uint16_t Length = 0;
    std::uint16_t MaximumLength = 0;
    std::uint64_t Buffer = 0;
};

bool ReadCountedTextRecord(ByteSpan buffer, std::size_t offset, CountedTextRecord& record) {
    if (!Inside(buffer.size(), offset, kCountedTextRecordSize)) return false;
    record.Length = Field<std::uint16_t>(buffer, offset);
    record.MaximumLength = Field<std::uint16_t>(buffer, offset + 2);
    record.Buffer = Field<std::uint64_t>(buffer, offset + 8);
    return true;
}

// The offset inside `buffer` (written at `bufferAddress`) of the `length` bytes that start at
// `address`; false when they do not all lie inside.
bool OffsetOfAddress(ByteSpan buffer, std::uint64_t bufferAddress, std::uint64_t address,
                     std::size_t length, std::size_t& offset) {
    if (address < bufferAddress) return false;
    const std::uint64_t distance = address - bufferAddress;
    if (distance > buffer.size()) return false;
    offset = static_cast<std::size_t>(distance);
    return Inside(buffer.size(), offset, length);
}

// Code units before the first NUL among the `units` that start at `offset`.
std::size_t UnitsBeforeNul(ByteSpan buffer, std::size_t offset, std::size_t units) {
    for (std::size_t i = 0; i < units; ++i) {
        if (Field<std::uint16_t>(buffer, offset + 2 * i) == 0) return i;
    }
    return units;
}

std::string NarrowText(ByteSpan buffer, const TextSpan& text) {
    // Copied out: the text may start at an odd offset, where char16_t cannot be read in place.
    std::u16string units(text.units, u'\0');
    if (text.units != 0)
        std::memcpy(units.data(), buffer.data() + text.offset, text.units * sizeof(char16_t));
    return base::Utf8FromUtf16(units.data(), units.size());
}

}  // namespace

bool LocateReplyText(ByteSpan reply, std::uint64_t replyAddress, std::size_t recordOffset,
                     TextSpan& text) {
    CountedTextRecord record;
    if (!ReadCountedTextRecord(reply, recordOffset, record)) return false;
    if (record.Length == 0) {
        text = TextSpan{};
        return true;
    }
    std::size_t offset = 0;
    if (!OffsetOfAddress(reply, replyAddress, record.Buffer, record.Length, offset)) return false;
    text.offset = offset;
    text.units = UnitsBeforeNul(reply, offset, record.Length / 2);
    return true;
}

bool ReadReplyText(ByteSpan reply, std::uint64_t replyAddress, std::size_t recordOffset,
                   std::string& narrow) {
    TextSpan text;
    if (!LocateReplyText(reply, replyAddress, recordOffset, text)) return false;
    narrow = NarrowText(reply, text);
    return true;
}

void WalkProcessRecords(
    ByteSpan list, const std::function<void(std::size_t offset, std::uint64_t processId)>& each) {
    std::size_t offset = 0;
    while (Inside(list.size(), offset, kProcessRecordSize)) {
        const auto next = Field<std::uint32_t>(list, offset);
        each(offset, Field<std::uint64_t>(list, offset + kProcessIdOffset));
        if (next == 0 || next > list.size() - offset) break;
        offset += next;
    }
}

bool ReadProcessImageName(ByteSpan list, std::uint64_t listAddress, std::size_t recordOffset,
                          std::string& name) {
    name.clear();
    CountedTextRecord record;
    if (!Inside(list.size(), recordOffset, kProcessImageNameOffset) ||
        !ReadCountedTextRecord(list, recordOffset + kProcessImageNameOffset, record))
        return false;
    if ((record.Length == 0 && record.MaximumLength == 0) || record.Buffer == 0) return true;
    std::size_t offset = 0;
    if (!OffsetOfAddress(list, listAddress, record.Buffer, record.Length, offset)) return false;
    // The name ends at its NUL, not at Length; the larger length bounds it when there is none,
    // as for every counted string we convert (sysinfo/text.h).
    const std::size_t bytes =
        std::min<std::size_t>(std::max(record.Length, record.MaximumLength), list.size() - offset);
    const TextSpan text{offset, UnitsBeforeNul(list, offset, bytes / 2)};
    name = NarrowText(list, text);
    return true;
}

bool CountHandleTableRows(ByteSpan table, std::size_t& rows) {
    rows = 0;
    if (table.size() < kHandleTableHeaderSize) return false;
    const auto claimed = Field<std::uint64_t>(table, 0);
    // A count that claims more rows than the reply holds ends the walk at the reply's end.
    const std::size_t fit = (table.size() - kHandleTableHeaderSize) / kHandleTableRowSize;
    rows = claimed < fit ? static_cast<std::size_t>(claimed) : fit;
    return true;
}

HandleTableRow ReadHandleTableRow(ByteSpan table, std::size_t index) {
    const std::size_t at = kHandleTableHeaderSize + index * kHandleTableRowSize;
    HandleTableRow row;
    row.UniqueProcessId = Field<std::uint64_t>(table, at + 8);
    row.HandleValue = Field<std::uint64_t>(table, at + 16);
    row.GrantedAccess = Field<std::uint32_t>(table, at + 24);
    row.ObjectTypeIndex = Field<std::uint16_t>(table, at + 30);
    return row;
}

}  // namespace vesperlin::sysinfo
