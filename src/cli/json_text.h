#pragma once
// JSON string literals for the console program's --json output.

#include <string>

namespace vesperlin {

// `text` as a quoted JSON string: quotes, backslashes and control characters escaped, valid
// UTF-8 passed through unchanged, and any byte that is not part of valid UTF-8 replaced by
// U+FFFD so that the document stays valid whatever a file name holds.
std::string JsonString(const std::string& text);

}  // namespace vesperlin
