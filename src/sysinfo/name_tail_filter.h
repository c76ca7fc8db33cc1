#pragma once
// A quick test of whether a file handle can be the one a query looks for, from the name its
// file system gives (the path within the volume, "\dir\file"), before the costlier object name
// ("\Device\HarddiskVolume1\dir\file") is asked. An object name is its volume's name followed
// by that path, so a handle can only match a looked-for name that ends with its path.
//
// The test never rejects a path that matches under the platform's ordinal case-insensitive
// rule; it may admit one that does not, and the full name is then compared as always.
//
// Windows logic, in this portable folder only so that its tests and fuzzer run natively too.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vesperlin::sysinfo {

class NameTailFilter {
  public:
    // Admits every path that the end of one of `names` (at a backslash) may equal.
    explicit NameTailFilter(const std::vector<std::u16string>& names);

    // `units` code units of a volume path. Allocates nothing and takes no lock: it runs on
    // worker threads that may be terminated at any instruction.
    bool Admits(const char16_t* path, std::size_t units) const;

  private:
    void Insert(std::uint64_t key);
    bool Holds(std::uint64_t key) const;

    std::vector<std::uint64_t> slots;  // open addressing; 0 marks a free slot
    std::size_t mask = 0;
};

}  // namespace vesperlin::sysinfo
