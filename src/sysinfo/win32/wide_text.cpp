#include "sysinfo/win32/wide_text.h"

#include <cstddef>

#include "base/win32/wide_text.h"
#include "sysinfo/text.h"

namespace vesperlin::sysinfo::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t));
static_assert(sizeof(UNICODE_STRING) == sizeof(CountedText16));
static_assert(offsetof(UNICODE_STRING, Buffer) == offsetof(CountedText16, Buffer));

void CountedWideToNarrow(const UNICODE_STRING* record, std::string& result) {
    if (!record) {
        result.clear();
        return;
    }
    CountedText16 counted;
    counted.Length = record->Length;
    counted.MaximumLength = record->MaximumLength;
    counted.Buffer = reinterpret_cast<const char16_t*>(record->Buffer);
    vesperlin::sysinfo::CountedWideToNarrow(counted, result);
}

bool EqualIgnoringCase(const std::string& left, const std::string& right) {
    if (left.size() == right.size() && left == right) return true;
    const std::wstring wideLeft = base::WideFromNarrow(left);
    const std::wstring wideRight = base::WideFromNarrow(right);
    if (wideLeft.size() != wideRight.size()) return false;
    if (wideLeft.empty()) return left.empty() && right.empty();
    return CompareStringOrdinal(wideLeft.data(), static_cast<int>(wideLeft.size()),
                                wideRight.data(), static_cast<int>(wideRight.size()),
                                TRUE) == CSTR_EQUAL;
}

}  // namespace vesperlin::sysinfo::win32
