#include "sysinfo/text.h"

#include "base/text.h"

namespace vesperlin::sysinfo {

std::size_t BoundedLength16(const char16_t* text, std::size_t maxUnits) {
    if (!text) return 0;
    std::size_t n = 0;
    while (n < maxUnits && text[n] != u'\0') ++n;
    return n;
}

void WideToNarrow(const char16_t* text, std::string& result) {
    result.clear();
    if (!text) return;
    std::size_t n = 0;
    while (text[n] != u'\0') ++n;
    result = base::Utf8FromUtf16(text, n);
}

void CountedWideToNarrow(const CountedText16& record, std::string& result) {
    result.clear();
    if ((record.Length == 0 && record.MaximumLength == 0) || !record.Buffer) return;
    // The text ends at its NUL, not at Length; the larger length bounds the read when there is
    // none (Length never exceeds MaximumLength in a sound record, but we do not rely on it).
    const std::size_t bytes =
        record.Length > record.MaximumLength ? record.Length : record.MaximumLength;
    const std::size_t units = BoundedLength16(record.Buffer, bytes / 2);
    result = base::Utf8FromUtf16(record.Buffer, units);
}

}  // namespace vesperlin::sysinfo
