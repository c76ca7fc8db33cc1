#pragma once
// How a process uses a file it was found with: as its program, a loaded module or mapping, an
// open descriptor or handle, its current or root folder. Both system seams report it with every
// module and handle row, and every hit carries it to the programs' output.

#include <cstdint>
#include <string>
#include <vector>

namespace vesperlin::sysinfo {

enum class UseKind : std::uint8_t {
    Module,         // a loaded module: the program image or a library (Windows)
    Executable,     // the program the process runs (Linux)
    Mapping,        // a file mapped into the process's memory: libraries included (Linux), views of
                    // data (Windows)
    Descriptor,     // an open file descriptor (Linux)
    Handle,         // an open handle (Windows)
    CurrentFolder,  // the process's current folder
    RootFolder,     // the folder the process sees as its root (Linux)
};

// What a descriptor or handle was opened for.
enum AccessBit : std::uint8_t {
    AccessRead = 1,
    AccessWrite = 2,
    AccessDelete = 4,
    AccessExecute = 8,
    AccessSynchronise = 16,
};

struct FileUse {
    UseKind kind = UseKind::Module;
    // Descriptor: the descriptor's number; Handle: the handle value in its process.
    std::uint64_t number = 0;
    // Descriptor and Handle: AccessBit values, when `accessKnown`.
    bool accessKnown = false;
    std::uint8_t access = 0;
    // Executable and Mapping: one bit per distinct set of mapping permissions the file is
    // mapped with (see MappingPermissionsBit); 0 when it is not mapped or they are unknown.
    std::uint16_t mappings = 0;

    friend bool operator==(const FileUse&, const FileUse&) = default;
};

inline FileUse UseOf(UseKind kind) {
    FileUse use;
    use.kind = kind;
    return use;
}

// "module", "executable", "mapping", "descriptor", "handle", "currentFolder", "rootFolder".
const char* UseKindName(UseKind kind);

// The names of the access bits set, in the order read, write, delete, execute, synchronise.
std::vector<std::string> AccessNames(std::uint8_t access);

// The bit of FileUse::mappings for the permission column of a maps line ("r-xp", "rw-s").
// 0 when the text is no such column.
std::uint16_t MappingPermissionsBit(const std::string& permissions);

// The permission columns of the bits set, from the fewest rights up ("r--p", "r-xp", "rw-p").
std::vector<std::string> MappingPermissionTexts(std::uint16_t mappings);

// The access bits of a Windows access mask as the system handle table holds it (generic
// rights already mapped to the file's specific ones): read data or list a folder, write or
// append data or add to a folder, delete, execute or traverse, synchronise.
std::uint8_t AccessOfWindowsMask(std::uint32_t grantedAccess);

}  // namespace vesperlin::sysinfo
