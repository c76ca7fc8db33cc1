#include "sysinfo/file_use.h"

namespace vesperlin::sysinfo {

namespace {

// A maps permission column is four characters: r or -, w or -, x or -, then p (private) or
// s (shared). Its bit index packs them as r=1, w=2, x=4, s=8.
constexpr char kRead = 'r', kWrite = 'w', kExecute = 'x', kShared = 's', kPrivate = 'p';

// The platform's file access rights (winnt.h), here so that decoding runs and is tested
// anywhere.
constexpr std::uint32_t kFileReadData = 0x0001;    // also FILE_LIST_DIRECTORY
constexpr std::uint32_t kFileWriteData = 0x0002;   // also FILE_ADD_FILE
constexpr std::uint32_t kFileAppendData = 0x0004;  // also FILE_ADD_SUBDIRECTORY
constexpr std::uint32_t kFileExecute = 0x0020;     // also FILE_TRAVERSE
constexpr std::uint32_t kDelete = 0x00010000;
constexpr std::uint32_t kSynchronize = 0x00100000;
constexpr std::uint32_t kGenericAll = 0x10000000;
constexpr std::uint32_t kGenericExecute = 0x20000000;
constexpr std::uint32_t kGenericWrite = 0x40000000;
constexpr std::uint32_t kGenericRead = 0x80000000;

}  // namespace

const char* UseKindName(UseKind kind) {
    switch (kind) {
        case UseKind::Module:
            return "module";
        case UseKind::Executable:
            return "executable";
        case UseKind::Mapping:
            return "mapping";
        case UseKind::Descriptor:
            return "descriptor";
        case UseKind::Handle:
            return "handle";
        case UseKind::CurrentFolder:
            return "currentFolder";
        case UseKind::RootFolder:
            return "rootFolder";
    }
    return "module";
}

std::vector<std::string> AccessNames(std::uint8_t access) {
    static const struct {
        AccessBit bit;
        const char* name;
    } names[] = {{AccessRead, "read"},
                 {AccessWrite, "write"},
                 {AccessDelete, "delete"},
                 {AccessExecute, "execute"},
                 {AccessSynchronise, "synchronise"}};
    std::vector<std::string> result;
    for (const auto& entry : names)
        if (access & entry.bit) result.push_back(entry.name);
    return result;
}

std::uint16_t MappingPermissionsBit(const std::string& permissions) {
    if (permissions.size() != 4) return 0;
    unsigned index = 0;
    const char expected[] = {kRead, kWrite, kExecute};
    for (unsigned i = 0; i < 3; ++i) {
        if (permissions[i] == expected[i]) {
            index |= 1u << i;
        } else if (permissions[i] != '-') {
            return 0;
        }
    }
    if (permissions[3] == kShared) {
        index |= 8;
    } else if (permissions[3] != kPrivate) {
        return 0;
    }
    return static_cast<std::uint16_t>(1u << index);
}

std::vector<std::string> MappingPermissionTexts(std::uint16_t mappings) {
    std::vector<std::string> texts;
    for (unsigned index = 0; index < 16; ++index) {
        if (!(mappings & (1u << index))) continue;
        std::string text = "----";
        if (index & 1) text[0] = kRead;
        if (index & 2) text[1] = kWrite;
        if (index & 4) text[2] = kExecute;
        text[3] = (index & 8) ? kShared : kPrivate;
        texts.push_back(std::move(text));
    }
    return texts;
}

std::uint8_t AccessOfWindowsMask(std::uint32_t grantedAccess) {
    std::uint8_t access = 0;
    if (grantedAccess & kGenericAll)
        return AccessRead | AccessWrite | AccessDelete | AccessExecute | AccessSynchronise;
    if (grantedAccess & (kFileReadData | kGenericRead)) access |= AccessRead;
    if (grantedAccess & (kFileWriteData | kFileAppendData | kGenericWrite)) access |= AccessWrite;
    if (grantedAccess & kDelete) access |= AccessDelete;
    if (grantedAccess & (kFileExecute | kGenericExecute)) access |= AccessExecute;
    if (grantedAccess & kSynchronize) access |= AccessSynchronise;
    return access;
}

}  // namespace vesperlin::sysinfo
