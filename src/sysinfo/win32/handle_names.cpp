#include "sysinfo/win32/handle_names.h"

#include <cstdio>

#include "sysinfo/win32/handle_copy.h"
#include "sysinfo/win32/native_definitions.h"
#include "sysinfo/win32/nt_api.h"
#include "sysinfo/win32/probe_pool.h"

namespace vesperlin::sysinfo::win32 {

namespace {

std::string FormatIdentifier(const char* format, DWORD identifier) {
    char text[32];
    std::snprintf(text, sizeof(text), format, static_cast<unsigned>(identifier));
    return text;
}

// A file is probed and named by a worker of a pool of one, under the time limit: any question
// about a file object may hang, its name query as much as its probe.
bool QueryFileName(HANDLE handle, std::string& name, DWORD owner) {
    ProbeItem item;
    std::shared_ptr<const void> ownerProcess;
    if (!SingleProbeItem(handle, owner, item, ownerProcess)) return false;
    ProbePoolOptions options;
    options.naming = true;
    options.keepAlive = std::move(ownerProcess);
    options.workers = 1;
    options.largeReplies = true;
    ProbePool pool({item}, std::move(options));
    return pool.TakeName(0, name);
}

}  // namespace

bool QueryLocalObjectName(HANDLE local, std::string& name) {
    ObjectReply reply;
    if (!QueryObjectInformation(local, kObjectNameInformation, reply)) return false;
    return ReadCountedReplyText(reply, name);
}

bool QueryHandleName(HANDLE handle, ObjectTypeNumber type, std::string& name, DWORD owner) {
    if (!ntApiBound) return false;
    if (type == FileTypeNumber) return QueryFileName(handle, name, owner);
    BroughtHandle brought(handle, owner);
    if (!brought.Ok()) return false;
    const DWORD self = GetCurrentProcessId();
    if (type == ProcessTypeNumber) {
        DWORD processId = 0;
        GetProcessIdOfHandle(brought.Get(), processId, self);  // 0 when the query fails
        name = FormatIdentifier("PID: 0x%X", processId);
        return true;
    }
    if (type == ThreadTypeNumber) {
        DWORD threadId = 0;
        GetThreadIdOfHandle(brought.Get(), threadId, self);
        name = FormatIdentifier("TID: 0x%X", threadId);
        return true;
    }
    return QueryLocalObjectName(brought.Get(), name);
}

bool ResolveHandleName(HANDLE handle, std::string& name, DWORD owner) {
    ObjectTypeNumber type = 0;
    if (!GetHandleTypeNumber(handle, type, owner)) return false;
    return QueryHandleName(handle, type, name, owner);
}

}  // namespace vesperlin::sysinfo::win32
