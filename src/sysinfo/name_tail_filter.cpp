#include "sysinfo/name_tail_filter.h"

namespace vesperlin::sysinfo {

namespace {

constexpr std::uint64_t kHashStart = 14695981039346656037ull;  // FNV-1a
constexpr std::uint64_t kHashFactor = 1099511628211ull;

// Folds case more coarsely than the platform does, so that two units it counts as equal always
// fold alike: ASCII letters go to upper case, and every unit beyond ASCII shares one mark with
// I and S, because the platform's upper-case table maps some letters beyond ASCII onto them
// (dotless i, long s). Folding more together can only admit more.
char16_t Fold(char16_t unit) {
    if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - (u'a' - u'A'));
    if (unit >= 0x80 || unit == u'I' || unit == u'S') return 0x80;
    return unit;
}

std::uint64_t Step(std::uint64_t hash, char16_t unit) {
    return (hash ^ Fold(unit)) * kHashFactor;
}

// 0 marks a free slot, so no key is 0.
std::uint64_t Key(std::uint64_t hash) {
    return hash == 0 ? 1 : hash;
}

}  // namespace

NameTailFilter::NameTailFilter(const std::vector<std::u16string>& names) {
    std::size_t tails = 0;
    for (const std::u16string& name : names)
        for (char16_t unit : name) tails += unit == u'\\';
    std::size_t size = 16;
    while (size < 2 * tails) size *= 2;
    slots.assign(size, 0);
    mask = size - 1;
    // Hashed from the end, so that every tail's key falls out of one pass over the name.
    for (const std::u16string& name : names) {
        std::uint64_t hash = kHashStart;
        for (std::size_t i = name.size(); i-- > 0;) {
            hash = Step(hash, name[i]);
            if (name[i] == u'\\') Insert(Key(hash));
        }
    }
}

void NameTailFilter::Insert(std::uint64_t key) {
    std::size_t at = static_cast<std::size_t>(key) & mask;
    while (slots[at] != 0 && slots[at] != key) at = (at + 1) & mask;
    slots[at] = key;
}

bool NameTailFilter::Holds(std::uint64_t key) const {
    for (std::size_t at = static_cast<std::size_t>(key) & mask;; at = (at + 1) & mask) {
        if (slots[at] == key) return true;
        if (slots[at] == 0) return false;
    }
}

bool NameTailFilter::Admits(const char16_t* path, std::size_t units) const {
    // Only a path that starts at the volume's root can be told apart this way.
    if (units == 0 || path[0] != u'\\') return true;
    std::uint64_t hash = kHashStart;
    for (std::size_t i = units; i-- > 0;) hash = Step(hash, path[i]);
    return Holds(Key(hash));
}

}  // namespace vesperlin::sysinfo
