#include "app/command_line.h"

#include <cstddef>
#include <cstring>
#include <limits>
#include <new>

#include "app/out_of_memory.h"

namespace vesperlin::app {

namespace {

std::size_t blockLimit = std::numeric_limits<std::size_t>::max();

// One pass of the splitter. With `slotsOut` and `textOut` null it only counts; otherwise it
// writes the argument pointers to `slotsOut` and the texts to `textOut`. Both passes walk the
// same code so that the counts and the writing can never disagree.
class SplitPass {
  public:
    SplitPass(const ArgSplitRules& rules, char** slotsOut, char* textOut)
        : rules(rules), slotsOut(slotsOut), textOut(textOut) {}

    void Run(const char* line) {
        slots = 1;  // the terminating null pointer
        characters = 0;
        if (line == nullptr || *line == '\0') {
            Finish();
            return;
        }
        const char* p = line;
        bool inQuotes = false;
        if (rules.quote != 0 && p[0] == rules.quote && p[1] != '\0') {
            inQuotes = true;
            ++p;
        }
        bool endedOnSeparator = false;
        for (;;) {
            OpenArgument();
            endedOnSeparator = false;
            bool closedBySeparator = false;
            for (;;) {
                std::size_t run = 0;
                if (rules.escape != 0) {
                    while (*p == rules.escape) {
                        ++run;
                        ++p;
                    }
                }
                bool copyThis = true;
                if (rules.quote != 0 && *p == rules.quote) {
                    if (run % 2 == 0) {
                        if (inQuotes && p[1] == rules.quote) {
                            ++p;  // a doubled quote: the second one is a literal
                        } else {
                            copyThis = rules.keepQuotes != 0;
                        }
                        inQuotes = !inQuotes;
                    }
                    run /= 2;
                }
                for (; run > 0; --run) Put(rules.escape);
                if (*p == '\0') break;
                if (!inQuotes && *p == rules.separator) {
                    ++p;
                    if (rules.collapseSeparators) {
                        while (*p == rules.separator) ++p;
                    }
                    closedBySeparator = true;
                    break;
                }
                if (copyThis) Put(*p);
                ++p;
            }
            CloseArgument();
            endedOnSeparator = closedBySeparator;
            if (*p == '\0') break;
        }
        if (endedOnSeparator && !rules.noTrailingEmpty) {
            OpenArgument();
            CloseArgument();
        }
        Finish();
    }

    std::size_t Slots() const { return slots; }
    std::size_t Characters() const { return characters; }

  private:
    void OpenArgument() {
        if (slotsOut) slotsOut[slots - 1] = textOut + characters;
        ++slots;
    }
    void CloseArgument() { Put('\0'); }
    void Put(char c) {
        if (textOut) textOut[characters] = c;
        ++characters;
    }
    void Finish() {
        if (slotsOut) slotsOut[slots - 1] = nullptr;
    }

    const ArgSplitRules& rules;
    char** slotsOut;
    char* textOut;
    std::size_t slots = 1;
    std::size_t characters = 0;
};

}  // namespace

CommandLineArgs::~CommandLineArgs() {
    Clear();
}

void CommandLineArgs::Clear() noexcept {
    block.reset();
    args = nullptr;
    count = 0;
}

void CommandLineArgs::SetBlockLimitForTesting(std::size_t bytes) noexcept {
    blockLimit = bytes;
}

int CommandLineArgs::SplitCommandLine(const char* line, const ArgSplitRules& rules) {
    Clear();
    if (line == nullptr) return 0;

    SplitPass counting(rules, nullptr, nullptr);
    counting.Run(line);
    const std::size_t slots = counting.Slots();
    const std::size_t characters = counting.Characters();
    if (slots - 1 > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        ReportOutOfMemory();
        return 0;
    }
    // Pointer slots are as wide as a pointer on this platform; the texts follow them.
    const std::size_t bytes = slots * sizeof(char*) + characters;
    if (bytes > blockLimit) {
        ReportOutOfMemory();
        return 0;
    }
    std::unique_ptr<char[]> newBlock(new (std::nothrow) char[bytes]);
    if (!newBlock) {
        ReportOutOfMemory();
        return 0;
    }
    char** slotArray = reinterpret_cast<char**>(newBlock.get());
    SplitPass writing(rules, slotArray, newBlock.get() + slots * sizeof(char*));
    writing.Run(line);

    block = std::move(newBlock);
    args = slotArray;
    count = static_cast<int>(slots - 1);
    return count;
}

}  // namespace vesperlin::app
