// The counted string of an object name or object type reply (NtQueryObject classes 1 and 2) from
// any reply written at kBufferAddress. Input: one byte, the offset of the record; the reply.
#include <cstring>

#include "native_fuzz.h"
#include "sysinfo/native_records.h"

using namespace vesperlin::sysinfo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t recordOffset = data[0] % 32;
    const ByteSpan reply(data + 1, size - 1);
    TextSpan text;
    const bool located =
        LocateReplyText(reply, vesperlin::fuzz::kBufferAddress, recordOffset, text);
    if (located) {
        FUZZ_CHECK(text.offset <= reply.size() && reply.size() - text.offset >= 2 * text.units);
        std::uint16_t length = 0;
        std::memcpy(&length, reply.data() + recordOffset, sizeof(length));
        FUZZ_CHECK(2 * text.units <= length);
        // The text ends at a NUL, or where its counted length ends.
        if (2 * (text.units + 1) <= length)
            FUZZ_CHECK(reply[text.offset + 2 * text.units] == 0 &&
                       reply[text.offset + 2 * text.units + 1] == 0);
    }
    std::string narrow = "?";
    FUZZ_CHECK(ReadReplyText(reply, vesperlin::fuzz::kBufferAddress, recordOffset, narrow) ==
               located);
    if (located) {
        vesperlin::fuzz::CheckConverted(narrow);
        FUZZ_CHECK(narrow.empty() == (text.units == 0));
    }
    return 0;
}
