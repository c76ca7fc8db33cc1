#pragma once
// Object type names: the type of a handle as the platform names it ("File", "Key", ...), our
// own numbering of the types that matter, and the object queries that handle naming shares.

#include <windows.h>
#include <winternl.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vesperlin::sysinfo::win32 {

using ObjectTypeNumber = std::uint16_t;

inline constexpr std::size_t ObjectTypeCount = 27;
// Our numbers, not the kernel's type index. Entry 0 is never searched; entry 1 is empty, so
// an empty type name gets number 1.
extern const char* const ObjectTypeNames[ObjectTypeCount];

inline constexpr ObjectTypeNumber ProcessTypeNumber = 5;
inline constexpr ObjectTypeNumber ThreadTypeNumber = 6;
inline constexpr ObjectTypeNumber FileTypeNumber = 26;

// The type name of `handle`, a handle of process `owner`. False when the owner cannot be
// opened or the platform does not answer; `typeName` is then unchanged.
bool QueryObjectTypeName(HANDLE handle, std::string& typeName, DWORD owner);

// The same for a handle that is already valid in our process.
bool QueryLocalObjectTypeName(HANDLE local, std::string& typeName);

// The number of entries 1..26 equal to `typeName` (exact, with case); 0 and false otherwise.
bool LookupObjectTypeNumber(const std::string& typeName, ObjectTypeNumber& number);

// `number` is 0 unless the type was read and found in the table.
bool GetHandleTypeNumber(HANDLE handle, ObjectTypeNumber& number, DWORD owner);

// One reply of NtQueryObject, kept in a buffer aligned for the records it holds.
struct ObjectReply {
    std::vector<ULONG_PTR> storage;
    ULONG length = 0;  // bytes the platform may have written
    const unsigned char* Bytes() const {
        return reinterpret_cast<const unsigned char*>(storage.data());
    }
};

// NtQueryObject of class `infoClass` on a handle of our process. The buffer grows when the
// platform asks for more (a bounded number of times). False unless the status is success.
bool QueryObjectInformation(HANDLE local, ULONG infoClass, ObjectReply& reply);

// Whether a query's status only says that the reply did not fit.
bool ObjectReplyTooSmall(NTSTATUS status);

// The counted string at the start of `reply` (object name and object type replies begin with
// one), converted to the active code page. False when it or its characters do not lie inside
// the reply.
bool ReadCountedReplyText(const ObjectReply& reply, std::string& narrow);

}  // namespace vesperlin::sysinfo::win32
