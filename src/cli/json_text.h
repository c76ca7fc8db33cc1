#pragma once
// JSON string literals for the console program's --json output.

#include <cstddef>
#include <string>

namespace vesperlin::cli {

// `text` as a quoted JSON string: quotes, backslashes and control characters escaped, valid
// UTF-8 passed through unchanged, and any byte that is not part of valid UTF-8 replaced by
// U+FFFD so that the document stays valid whatever a file name holds.
std::string JsonString(const std::string& text);

// The length of the valid UTF-8 character at `at` (1 for ASCII), or 0 when none starts there.
std::size_t ValidUtf8Length(const std::string& text, std::size_t at);

bool IsValidUtf8(const std::string& text);

// The bytes of `text` in lower-case hexadecimal, two digits each: names that are not valid
// UTF-8 keep their raw bytes this way, so that two of them stay distinguishable.
std::string HexBytes(const std::string& text);

}  // namespace vesperlin::cli
