// vesperlin-cli: the console front end over the usage query.
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "cli/output_sink.h"
#include "sysinfo/platform_system.h"

#ifdef _WIN32
#include <windows.h>

#include "sysinfo/win32/token_privilege.h"
#else
#include <signal.h>
#include <unistd.h>
#endif

#ifndef VESPERLIN_VERSION
#define VESPERLIN_VERSION "unknown"
#endif

int main(int argc, char** argv) {
    vesperlin::cli::CliPlatform platform;
    platform.version = VESPERLIN_VERSION;
#ifdef _WIN32
    platform.privilegedUser = "an administrator";
    // As the desktop program does, so that an administrator sees the services too. No
    // message when it is refused: the count of processes that could not be inspected says
    // what the user needs to know.
    vesperlin::sysinfo::SilentMessages quiet;
    vesperlin::sysinfo::win32::EnableDebugPrivilege(quiet);
    platform.runsPrivileged = vesperlin::sysinfo::win32::DebugPrivilegeEnabled();
    // With the privilege only protected processes (and their handles) stay out of reach.
    platform.privilegedLimits = "protected";
    // Our manifest makes the active code page UTF-8, so argv and every name we print are
    // UTF-8; a console shows them right only when its output code page says so too.
    if (GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR ||
        GetFileType(GetStdHandle(STD_ERROR_HANDLE)) == FILE_TYPE_CHAR) {
        SetConsoleOutputCP(CP_UTF8);
    }
#else
    platform.privilegedUser = "root";
    platform.runsPrivileged = geteuid() == 0;
    // A reader that has gone shows as EPIPE, which ends us quietly, instead of killing us.
    signal(SIGPIPE, SIG_IGN);
#endif
    vesperlin::cli::StandardSink out(vesperlin::cli::StandardSink::Stream::Output);
    vesperlin::cli::StandardSink err(vesperlin::cli::StandardSink::Stream::Error);
    platform.terminalWidth = out.TerminalWidth();
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return vesperlin::cli::RunCli(
        args,
        [](vesperlin::sysinfo::Messages& messages) {
            return vesperlin::sysinfo::CreatePlatformSystem(messages);
        },
        platform, out, err);
}
