#include "cli/output_sink.h"

#ifdef _WIN32
#include <windows.h>

#include "base/win32/wide_text.h"
#else
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace vesperlin::cli {

#ifdef _WIN32

namespace {

HANDLE HandleOf(StandardSink::Stream stream) {
    return GetStdHandle(stream == StandardSink::Stream::Output ? STD_OUTPUT_HANDLE
                                                               : STD_ERROR_HANDLE);
}

}  // namespace

bool StandardSink::Write(std::string_view text) {
    if (CurrentState() != State::Open) return false;
    // Text-mode line ends, as every Windows program that reads our output expects.
    std::string converted;
    converted.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') converted += '\r';
        converted += c;
    }
    const HANDLE handle = HandleOf(stream);
    std::string_view rest = converted;
    while (!rest.empty()) {
        DWORD written = 0;
        const DWORD chunk = rest.size() > (1u << 20) ? (1u << 20) : static_cast<DWORD>(rest.size());
        if (!WriteFile(handle, rest.data(), chunk, &written, nullptr)) {
            const DWORD error = GetLastError();
            if (error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE) {
                Close();
            } else {
                Fail(base::SystemMessage(error));
            }
            return false;
        }
        if (written == 0) {
            // Accepted but nothing taken: asking again would never end.
            Fail("nothing could be written");
            return false;
        }
        rest.remove_prefix(written);
    }
    return true;
}

int StandardSink::TerminalWidth() const {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(HandleOf(stream), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

#else

bool StandardSink::Write(std::string_view text) {
    if (CurrentState() != State::Open) return false;
    const int fd = stream == Stream::Output ? STDOUT_FILENO : STDERR_FILENO;
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            // SIGPIPE is ignored by main, so a reader that has gone shows as EPIPE.
            if (errno == EPIPE) {
                Close();
            } else {
                Fail(std::strerror(errno));
            }
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

int StandardSink::TerminalWidth() const {
    const int fd = stream == Stream::Output ? STDOUT_FILENO : STDERR_FILENO;
    if (!isatty(fd)) return 0;
    winsize size{};
    if (ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
    return size.ws_col;
}

#endif

}  // namespace vesperlin::cli
