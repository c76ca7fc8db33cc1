#pragma once
// Where the console program writes: a small sink of our own over write(2) or WriteFile rather
// than iostreams, which would pull hundreds of kilobytes into a static Windows program and
// hide write errors. Tests write into memory.

#include <string>
#include <string_view>

namespace vesperlin::cli {

class OutputSink {
  public:
    enum class State { Open, Closed, Failed };

    virtual ~OutputSink() = default;
    // Writes all of `text`. False once the reader has gone (Closed) or a write failed
    // (Failed, with the system's reason); later writes are dropped.
    virtual bool Write(std::string_view text) = 0;

    State CurrentState() const { return state; }
    const std::string& FailureReason() const { return reason; }

  protected:
    void Close() { state = State::Closed; }
    void Fail(std::string why) {
        state = State::Failed;
        reason = std::move(why);
    }

  private:
    State state = State::Open;
    std::string reason;
};

// Keeps everything written; can be told to fail or close after a number of bytes.
class MemorySink : public OutputSink {
  public:
    bool Write(std::string_view text) override {
        if (CurrentState() != State::Open) return false;
        if (limit != std::string::npos && written.size() + text.size() > limit) {
            written.append(text.substr(0, limit - written.size()));
            if (closesAtLimit) {
                Close();
            } else {
                Fail("No space left on device");
            }
            return false;
        }
        written.append(text);
        return true;
    }
    // After `bytes`, the next write that does not fit fails (or finds the reader gone).
    void LimitTo(std::size_t bytes, bool closes) {
        limit = bytes;
        closesAtLimit = closes;
    }
    const std::string& Text() const { return written; }
    void Clear() { written.clear(); }

  private:
    std::string written;
    std::size_t limit = std::string::npos;
    bool closesAtLimit = false;
};

// The platform's standard output or error. Defined with the program, not in the portable
// library.
class StandardSink : public OutputSink {
  public:
    enum class Stream { Output, Error };
    explicit StandardSink(Stream stream) : stream(stream) {}
    bool Write(std::string_view text) override;
    // The width of the terminal it writes to; 0 when it is no terminal.
    int TerminalWidth() const;

  private:
    Stream stream;
};

}  // namespace vesperlin::cli
