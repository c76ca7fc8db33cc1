#include "sysinfo/win32/object_types.h"

#include <cstddef>

#include "base/grow_buffer.h"
#include "sysinfo/native_records.h"
#include "sysinfo/win32/handle_copy.h"
#include "sysinfo/win32/native_definitions.h"
#include "sysinfo/win32/nt_api.h"

namespace vesperlin::sysinfo::win32 {

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

// Names are counted strings of at most 64 KiB; anything asking for much more is not a name.
constexpr base::GrowLimits kReplyLimits{8192, 1024 * 1024, 256, 4};

}  // namespace

bool ObjectReplyTooSmall(NTSTATUS status) {
    return status == kStatusInfoLengthMismatch || status == kStatusBufferOverflow ||
           status == kStatusBufferTooSmall;
}

bool QueryObjectInformation(HANDLE local, ULONG infoClass, ObjectReply& reply) {
    return base::GrowBuffer(kReplyLimits,
                            [&](std::size_t size) {
                                // A reply reused across queries keeps its storage; only growth
                                // reallocates.
                                const std::size_t words =
                                    (size + sizeof(ULONG_PTR) - 1) / sizeof(ULONG_PTR);
                                if (reply.storage.size() < words) reply.storage.resize(words);
                                reply.length = static_cast<ULONG>(size);
                                ULONG needed = 0;
                                const NTSTATUS status = NtApi.NtQueryObject(
                                    local, infoClass, reply.storage.data(), reply.length, &needed);
                                if (status == 0) return base::TryResult::Fits(size);
                                if (ObjectReplyTooSmall(status))
                                    return base::TryResult::TooSmall(needed);
                                return base::TryResult::Failed();
                            })
        .Fits();
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

}  // namespace vesperlin::sysinfo::win32
