#pragma once
// Splitting a command line into arguments by a small set of rules. Portable: the desktop
// program splits GetCommandLineA's text with it, and it is tested natively.

#include <cstdint>
#include <memory>

namespace vesperlin::app {

// Six one-byte settings that drive SplitCommandLine.
struct ArgSplitRules {
    char separator = ' ';                 // ends an argument outside quotes
    char quote = '"';                     // opens and closes a quoted stretch; 0 = no quoting
    char escape = 0;                      // escapes a quote when it stands an odd number of times
                                          // before it; 0 = no escaping
    std::uint8_t collapseSeparators = 1;  // a run of separators counts as one
    std::uint8_t noTrailingEmpty = 1;     // separators at the end add no empty argument
    std::uint8_t keepQuotes = 0;          // quotes that open or close a stretch are kept
};
static_assert(sizeof(ArgSplitRules) == 6);

// The rules the program splits its own command line with: only the space separates (a tab
// does not), double quotes group, and a backslash is an ordinary character.
inline constexpr ArgSplitRules kStartupSplitRules{' ', '"', 0, 1, 1, 0};

// One split command line. The arguments live in one heap block: `count` + 1 pointers (the last
// null) followed by the texts they point to, each ended by its NUL.
class CommandLineArgs {
  public:
    CommandLineArgs() = default;
    CommandLineArgs(const CommandLineArgs&) = delete;
    CommandLineArgs& operator=(const CommandLineArgs&) = delete;
    virtual ~CommandLineArgs();

    // Splits `line` (may be null) by `rules`, replacing what the object held, and returns the
    // number of arguments. A null line leaves the object empty. When the block cannot be
    // allocated the object stays empty, the thread's last error is ERROR_OUTOFMEMORY (errno
    // ENOMEM off Windows) and the result is 0.
    int SplitCommandLine(const char* line, const ArgSplitRules& rules);

    // Frees the block and empties the object.
    void Clear() noexcept;

    int Count() const noexcept { return count; }
    // Argument `index` (0 is the program), or null when out of range.
    const char* Arg(int index) const noexcept {
        return index >= 0 && index < count ? args[index] : nullptr;
    }
    // The whole pointer array, ended by a null pointer; null when the object is empty.
    char* const* Args() const noexcept { return args; }

    // The largest block SplitCommandLine asks for; a larger need counts as out of memory.
    // Tests lower it to reach the out-of-memory path.
    static void SetBlockLimitForTesting(std::size_t bytes) noexcept;

  private:
    std::unique_ptr<char[]> block;
    char** args = nullptr;
    int count = 0;
};

}  // namespace vesperlin::app
