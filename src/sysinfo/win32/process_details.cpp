#include "sysinfo/win32/process_details.h"

#include <vector>

#include "base/win32/wide_text.h"
#include "base/grow_buffer.h"
#include "sysinfo/win32/native_definitions.h"
#include "sysinfo/win32/nt_api.h"
#include "base/win32/unique_handle.h"
#include "sysinfo/win32/wide_text.h"

namespace vesperlin::sysinfo::win32 {

namespace {

// Program paths may be long paths; the call does not say how long, so the buffer doubles.
constexpr base::GrowLimits kProgramPathLimits{1024, 1 << 16, 0};
// A command line is at most 32767 characters; its answer reports the length it needs.
constexpr base::GrowLimits kCommandLineLimits{4096, 1 << 20, 0, 4};

std::string AccountOf(HANDLE process) {
    base::UniqueToken token;
    if (!OpenProcessToken(process, TOKEN_QUERY, token.put())) return std::string();
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return std::string();
    std::vector<unsigned char> buffer(size);
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
        return std::string();
    const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
    wchar_t name[256], domain[256];
    DWORD nameLength = 256, domainLength = 256;
    SID_NAME_USE use;
    if (!LookupAccountSidW(nullptr, user->User.Sid, name, &nameLength, domain, &domainLength, &use))
        return std::string();
    const std::string account = base::NarrowFromWide(name);
    const std::string domainText = base::NarrowFromWide(domain);
    return domainText.empty() ? account : domainText + "\\" + account;
}

std::string ProgramOf(HANDLE process) {
    std::vector<wchar_t> path;
    const base::GrowResult read = base::GrowBuffer(kProgramPathLimits, [&](std::size_t size) {
        path.resize(size);
        auto length = static_cast<DWORD>(size);
        if (QueryFullProcessImageNameW(process, 0, path.data(), &length))
            return base::TryResult::Fits(length);
        if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) return base::TryResult::TooSmall();
        return base::TryResult::Failed();
    });
    if (!read.Fits()) return std::string();
    return base::NarrowFromWide(std::wstring_view(path.data(), read.used));
}

// The command line from the process's own parameters block, for systems without class 60
// (Wine 8 answers it with an invalid class): its PEB, then the parameters the PEB points to,
// then their command line's text, each read from the other process.
std::string CommandLineFromPeb(HANDLE process) {
    PROCESS_BASIC_INFORMATION basic{};
    ULONG length = 0;
    if (NtApi.NtQueryInformationProcess(process, kProcessBasicInformation, &basic, sizeof basic,
                                        &length) < 0 ||
        basic.PebBaseAddress == nullptr)
        return std::string();
    PEB peb{};
    RTL_USER_PROCESS_PARAMETERS parameters{};
    SIZE_T read = 0;
    if (!ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof peb, &read) ||
        read != sizeof peb || peb.ProcessParameters == nullptr ||
        !ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof parameters, &read) ||
        read != sizeof parameters)
        return std::string();
    const UNICODE_STRING& line = parameters.CommandLine;
    if (line.Buffer == nullptr || line.Length == 0 || line.Length % 2 != 0) return std::string();
    std::vector<wchar_t> text(line.Length / 2 + 1, L'\0');
    if (!ReadProcessMemory(process, line.Buffer, text.data(), line.Length, &read) ||
        read != line.Length)
        return std::string();
    return base::NarrowFromWide(text.data());
}

std::string CommandLineOf(HANDLE process) {
    if (!NtApi.NtQueryInformationProcess) return std::string();
    std::vector<unsigned char> buffer;
    const base::GrowResult read = base::GrowBuffer(kCommandLineLimits, [&](std::size_t size) {
        buffer.resize(size);
        ULONG needed = 0;
        const NTSTATUS status =
            NtApi.NtQueryInformationProcess(process, kProcessCommandLineInformation, buffer.data(),
                                            static_cast<ULONG>(size), &needed);
        if (status >= 0) return base::TryResult::Fits(size);
        if (status == kStatusInfoLengthMismatch || status == kStatusBufferTooSmall)
            return base::TryResult::TooSmall(needed);
        return base::TryResult::Failed();
    });
    if (read.Fits()) {
        const auto* text = reinterpret_cast<const UNICODE_STRING*>(buffer.data());
        // The text must lie inside the answer: a reply is walked with its bounds checked.
        const auto* begin = reinterpret_cast<const unsigned char*>(text->Buffer);
        if (text->Buffer != nullptr && text->Length != 0 && begin >= buffer.data() &&
            begin + text->Length <= buffer.data() + buffer.size()) {
            std::string line;
            CountedWideToNarrow(text, line);
            return line;
        }
    }
    return CommandLineFromPeb(process);
}

}  // namespace

bool ReadProcessDetails(DWORD processId, ProcessDetails& details) {
    details = ProcessDetails();
    base::UniqueKernelHandle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    if (!process) process.reset(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) return false;
    details.user = AccountOf(process.get());
    details.programPath = ProgramOf(process.get());
    details.commandLine = CommandLineOf(process.get());
    return true;
}

}  // namespace vesperlin::sysinfo::win32
