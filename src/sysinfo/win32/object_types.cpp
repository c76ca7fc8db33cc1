#include "sysinfo/win32/object_types.h"

#include <cstddef>
#include <cstring>

#include "sysinfo/win32/nt_api.h"
#include "sysinfo/win32/wide_text.h"

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

// The head of class 2's reply; only the name is read, the counters after it are not.
struct ObjectTypeInformationHead {
    UNICODE_STRING TypeName;
};

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

bool CountedTextInReply(const void* reply, std::size_t length, const UNICODE_STRING& text) {
    if (text.Length == 0) return true;
    const auto* begin = reinterpret_cast<const unsigned char*>(text.Buffer);
    const auto* replyBegin = static_cast<const unsigned char*>(reply);
    const unsigned char* replyEnd = replyBegin + length;
    return begin >= replyBegin && begin <= replyEnd &&
           static_cast<std::size_t>(replyEnd - begin) >= text.Length;
}

bool ReadCountedReplyText(const ObjectReply& reply, const UNICODE_STRING& text,
                          std::string& narrow) {
    if (text.Length == 0) {
        narrow.clear();
        return true;
    }
    if (!CountedTextInReply(reply.Bytes(), reply.length, text)) return false;
    // The text is read no further than its counted length, which we know lies in the reply.
    UNICODE_STRING bounded = text;
    bounded.MaximumLength = text.Length;
    CountedWideToNarrow(&bounded, narrow);
    return true;
}

bool QueryLocalObjectTypeName(HANDLE local, std::string& typeName) {
    ObjectReply reply;
    if (!QueryObjectInformation(local, kObjectTypeInformation, reply)) return false;
    if (reply.length < sizeof(ObjectTypeInformationHead)) return false;
    ObjectTypeInformationHead head;
    std::memcpy(&head, reply.Bytes(), sizeof(head));
    return ReadCountedReplyText(reply, head.TypeName, typeName);
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
