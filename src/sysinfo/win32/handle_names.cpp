#include "sysinfo/win32/handle_names.h"

#include <cstdio>

#include "sysinfo/win32/name_probe.h"
#include "sysinfo/win32/nt_api.h"

namespace vesperlin::win32 {

namespace {

constexpr ULONG kObjectNameInformation = 1;

std::string FormatIdentifier(const char* format, DWORD identifier) {
    char text[32];
    std::snprintf(text, sizeof(text), format, static_cast<unsigned>(identifier));
    return text;
}

}  // namespace

bool QueryLocalObjectName(HANDLE local, std::string& name) {
    ObjectReply reply;
    return QueryLocalObjectName(local, name, reply);
}

bool QueryLocalObjectName(HANDLE local, std::string& name, ObjectReply& reply) {
    if (!QueryObjectInformation(local, kObjectNameInformation, reply)) return false;
    return ReadCountedReplyText(reply, name);
}

bool QueryLocalHandleName(HANDLE local, ObjectTypeNumber type, std::string& name) {
    if (!ntApiBound) return false;
    const DWORD self = GetCurrentProcessId();
    if (type == ProcessTypeNumber) {
        DWORD processId = 0;
        GetProcessIdOfHandle(local, processId, self);  // 0 when the query fails
        name = FormatIdentifier("PID: 0x%X", processId);
        return true;
    }
    if (type == ThreadTypeNumber) {
        DWORD threadId = 0;
        GetThreadIdOfHandle(local, threadId, self);
        name = FormatIdentifier("TID: 0x%X", threadId);
        return true;
    }
    if (type == FileTypeNumber && ProbeLocalFileName(local) == ProbeOutcome::TimedOut) {
        // Its name query would block us as it blocked the probe.
        name.clear();
        return true;
    }
    return QueryLocalObjectName(local, name);
}

bool QueryHandleName(HANDLE handle, ObjectTypeNumber type, std::string& name, DWORD owner) {
    if (!ntApiBound) return false;
    BroughtHandle brought(handle, owner);
    if (!brought.Ok()) return false;
    return QueryLocalHandleName(brought.Get(), type, name);
}

bool ResolveHandleName(HANDLE handle, std::string& name, DWORD owner) {
    ObjectTypeNumber type = 0;
    if (!GetHandleTypeNumber(handle, type, owner)) return false;
    return QueryHandleName(handle, type, name, owner);
}

}  // namespace vesperlin::win32
