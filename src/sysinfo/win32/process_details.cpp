#include "sysinfo/win32/process_details.h"

#include <vector>

#include "sysinfo/win32/nt_api.h"
#include "base/win32/unique_handle.h"
#include "sysinfo/win32/wide_text.h"

namespace vesperlin::win32 {

namespace {

// NtQueryInformationProcess's class for the command line (Windows 8.1 and later; Wine has it
// too): the answer is one UNICODE_STRING followed by its text.
constexpr ULONG kProcessCommandLineInformation = 60;
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
constexpr NTSTATUS kBufferTooSmall = static_cast<NTSTATUS>(0xC0000023);

std::string AccountOf(HANDLE process) {
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &rawToken)) return std::string();
    base::UniqueKernelHandle token(rawToken);
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
    std::string account, domainText;
    WideToNarrow(name, account);
    WideToNarrow(domain, domainText);
    return domainText.empty() ? account : domainText + "\\" + account;
}

std::string ProgramOf(HANDLE process) {
    std::vector<wchar_t> path(1024);
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD length = static_cast<DWORD>(path.size());
        if (QueryFullProcessImageNameW(process, 0, path.data(), &length)) {
            std::string program;
            WideToNarrow(std::wstring(path.data(), length).c_str(), program);
            return program;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
        path.resize(path.size() * 4);
    }
    return std::string();
}

// The command line from the process's own parameters block, for systems without class 60
// (Wine 8 answers it with an invalid class): its PEB, then the parameters the PEB points to,
// then their command line's text, each read from the other process.
std::string CommandLineFromPeb(HANDLE process) {
    PROCESS_BASIC_INFORMATION basic{};
    ULONG length = 0;
    if (NtApi.NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic,
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
    std::string narrow;
    WideToNarrow(text.data(), narrow);
    return narrow;
}

std::string CommandLineOf(HANDLE process) {
    if (!NtApi.NtQueryInformationProcess) return std::string();
    std::vector<unsigned char> buffer(4096);
    for (int attempt = 0; attempt < 4; ++attempt) {
        ULONG needed = 0;
        const NTSTATUS status =
            NtApi.NtQueryInformationProcess(process, kProcessCommandLineInformation, buffer.data(),
                                            static_cast<ULONG>(buffer.size()), &needed);
        if (status >= 0) {
            const auto* text = reinterpret_cast<const UNICODE_STRING*>(buffer.data());
            // The text must lie inside the answer: a reply is walked with its bounds checked.
            const auto* begin = reinterpret_cast<const unsigned char*>(text->Buffer);
            if (text->Buffer == nullptr || text->Length == 0 || begin < buffer.data() ||
                begin + text->Length > buffer.data() + buffer.size())
                break;
            std::string line;
            CountedWideToNarrow(text, line);
            return line;
        }
        if (status != kInfoLengthMismatch && status != kBufferTooSmall) break;
        buffer.resize(needed > buffer.size() ? needed : buffer.size() * 4);
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

}  // namespace vesperlin::win32
