#include "sysinfo/win32/object_types.h"

#include <cstddef>

#include "sysinfo/native_records.h"
#include "sysinfo/win32/nt_api.h"

namespace vesperlin::win32 {

const char* const ObjectTypeNames[ObjectTypeCount] = {"",
                                                      "",
                                                      "Directory",
                                                      "SymbolicLink",
                                                      "Token",
                                                      "Process",
                                                      "Thread",
                                                      "Unknown7",
                                                      "Event",
                                                      "EventPair",
                                                      "Mutant",
                                                      "Unknown11",
                                                      "Semaphore",
                                                      "Timer",
                                                      "Profile",
                                                      "WindowStation",
                                                      "Desktop",
                                                      "Section",
                                                      "Key",
                                                      "Port",
                                                      "WaitablePort",
                                                      "Unknown21",
                                                      "Unknown22",
                                                      "Unknown23",
                                                      "Unknown24",
                                                      "IoCompletion",
                                                      "File"};

namespace {

constexpr ULONG kObjectTypeInformation = 2;
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
constexpr NTSTATUS kBufferOverflow = static_cast<NTSTATUS>(0x80000005L);
constexpr NTSTATUS kBufferTooSmall = static_cast<NTSTATUS>(0xC0000023L);

constexpr ULONG kFirstReplyLength = 8192;
// Names are counted strings of at most 64 KiB; anything asking for much more is not a name.
constexpr ULONG kLargestReply = 1024 * 1024;
constexpr int kReplyAttempts = 4;

// Class 2's reply begins with the type name's counted string; the counters after it are not
// read.
static_assert(sizeof(UNICODE_STRING) == kCountedTextRecordSize);

}  // namespace

bool ObjectReplyTooSmall(NTSTATUS status) {
    return status == kInfoLengthMismatch || status == kBufferOverflow || status == kBufferTooSmall;
}

bool QueryObjectInformation(HANDLE local, ULONG infoClass, ObjectReply& reply) {
    ULONG length = kFirstReplyLength;
    for (int attempt = 0; attempt < kReplyAttempts; ++attempt) {
        // A reply reused across queries keeps its storage; only growth reallocates.
        const std::size_t words = (length + sizeof(ULONG_PTR) - 1) / sizeof(ULONG_PTR);
        if (reply.storage.size() < words) reply.storage.resize(words);
        reply.length = length;
        ULONG needed = 0;
        const NTSTATUS status =
            NtApi.NtQueryObject(local, infoClass, reply.storage.data(), length, &needed);
        if (status == 0) return true;
        if (!ObjectReplyTooSmall(status)) return false;
        // A reported length of 0, or one no larger than what we gave, is not to be trusted.
        const ULONG next = needed > length ? needed + 256 : length * 2;
        if (next > kLargestReply) return false;
        length = next;
    }
    return false;
}

bool ReadCountedReplyText(const ObjectReply& reply, std::string& narrow) {
    // The text is read no further than its counted length, which must lie in the reply.
    return ReadReplyText(ByteSpan(reply.Bytes(), reply.length),
                         reinterpret_cast<std::uintptr_t>(reply.Bytes()), 0, narrow);
}

bool QueryLocalObjectTypeName(HANDLE local, std::string& typeName) {
    ObjectReply reply;
    if (!QueryObjectInformation(local, kObjectTypeInformation, reply)) return false;
    return ReadCountedReplyText(reply, typeName);
}

bool QueryObjectTypeName(HANDLE handle, std::string& typeName, DWORD owner) {
    if (!ntApiBound) return false;
    BroughtHandle brought(handle, owner);
    if (!brought.Ok()) return false;
    return QueryLocalObjectTypeName(brought.Get(), typeName);
}

bool LookupObjectTypeNumber(const std::string& typeName, ObjectTypeNumber& number) {
    for (std::size_t i = 1; i < ObjectTypeCount; ++i) {
        if (typeName == ObjectTypeNames[i]) {
            number = static_cast<ObjectTypeNumber>(i);
            return true;
        }
    }
    number = 0;
    return false;
}

bool GetHandleTypeNumber(HANDLE handle, ObjectTypeNumber& number, DWORD owner) {
    number = 0;
    std::string typeName;
    if (!QueryObjectTypeName(handle, typeName, owner)) return false;
    return LookupObjectTypeNumber(typeName, number);
}

}  // namespace vesperlin::win32
