#pragma once
// The records the native system interface writes (the process list, the system handle table,
// object name and object type replies), read from a byte buffer in their 64-bit layouts. Every
// offset and address the data gives is checked against the buffer before it is used, and
// fields are copied out rather than read in place, so a walk never leaves the buffer and never
// reads a misaligned field, whatever the buffer holds. Portable: the Windows snapshots call it,
// and it is tested and fuzzed natively under the sanitizers.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace vesperlin::sysinfo {

using ByteSpan = std::span<const std::uint8_t>;

// Where a counted string's text lies inside a buffer: its offset in bytes and its length in
// UTF-16 code units.
struct TextSpan {
    std::size_t offset = 0;
    std::size_t units = 0;
};

// --- Object name and object type replies (NtQueryObject classes 1 and 2) ---
// Both begin with a counted string (UNICODE_STRING: Length and MaximumLength in bytes, four
// bytes of padding, the address of the text) whose text the platform writes into the same
// reply.
inline constexpr std::size_t kCountedTextRecordSize = 16;

// The text of the counted string at `recordOffset` of `reply`, whose first byte the platform
// saw at address `replyAddress`: all its Length bytes must lie inside the reply, and it ends at
// its first NUL within them. A Length of 0 is the empty text. False when the record or its text
// lies outside. Allocates nothing: name probes on threads that may be terminated use it.
bool LocateReplyText(ByteSpan reply, std::uint64_t replyAddress, std::size_t recordOffset,
                     TextSpan& text);

// The same text converted to 8-bit text (sysinfo/text.h).
bool ReadReplyText(ByteSpan reply, std::uint64_t replyAddress, std::size_t recordOffset,
                   std::string& narrow);

// --- The process list (NtQuerySystemInformation class 5) ---
// Records of at least 256 bytes chained by NextEntryOffset (at 0, 32 bits; 0 ends the list),
// each with the image name's counted string at 0x38 and the process identifier at 0x50.
inline constexpr std::size_t kProcessRecordSize = 256;
inline constexpr std::size_t kProcessImageNameOffset = 0x38;
inline constexpr std::size_t kProcessIdOffset = 0x50;

// Calls `each` with the offset and process identifier of every record from the first, as long
// as the record lies whole inside `list`: an offset that leads out of the list ends the walk.
void WalkProcessRecords(
    ByteSpan list, const std::function<void(std::size_t offset, std::uint64_t processId)>& each);

// The image name of the record at `recordOffset` of `list` (written at `listAddress`). Both
// lengths 0, or no text address, give the empty name. Otherwise the first Length bytes must lie
// inside the list; the name ends at its first NUL and is read no further than the larger of its
// two lengths nor past the list's end. False, with `name` empty, when the text lies outside.
bool ReadProcessImageName(ByteSpan list, std::uint64_t listAddress, std::size_t recordOffset,
                          std::string& name);

// --- The extended system handle table (NtQuerySystemInformation class 64) ---
// NumberOfHandles and a reserved field (64 bits each), then rows of 40 bytes.
inline constexpr std::size_t kHandleTableHeaderSize = 16;
inline constexpr std::size_t kHandleTableRowSize = 40;

// The fields of a row that we use, at full width.
struct HandleTableRow {
    std::uint64_t UniqueProcessId = 0;
    std::uint64_t HandleValue = 0;
    std::uint32_t GrantedAccess = 0;
    std::uint16_t ObjectTypeIndex = 0;
};

// The number of rows the table claims, cut to those that lie whole inside it. False when not
// even the header fits.
bool CountHandleTableRows(ByteSpan table, std::size_t& rows);

// Row `index`, which must be below the count of CountHandleTableRows.
HandleTableRow ReadHandleTableRow(ByteSpan table, std::size_t index);

}  // namespace vesperlin::sysinfo
