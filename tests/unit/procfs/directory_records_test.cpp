// The walk over directory records and the names of /proc's process entries.
#include "sysinfo/procfs/directory_records.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sysinfo/procfs/proc_dir.h"

namespace vesperlin::sysinfo::procfs {
namespace {

// Records laid out as the kernel lays them out: 19 bytes of header, the name, its NUL, padding.
struct Records {
    // Returns where the record starts.
    std::size_t Add(const std::string& name, std::size_t padding = 5) {
        const std::size_t at = bytes.size();
        const std::size_t length = 19 + name.size() + 1 + padding;
        bytes.resize(at + length, '\0');
        SetLength(at, static_cast<std::uint16_t>(length));
        std::memcpy(bytes.data() + at + 19, name.c_str(), name.size() + 1);
        return at;
    }
    void SetLength(std::size_t at, std::uint16_t length) {
        std::memcpy(bytes.data() + at + 16, &length, sizeof(length));
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        const char* name = nullptr;
        for (std::size_t at = 0; NextDirectoryRecord(bytes, at, name);) names.emplace_back(name);
        return names;
    }
    std::vector<char> bytes;
};

TEST(DirectoryRecords, WalksTheRecordsTheKernelWrote) {
    UniqueFd dir(open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(dir.Valid());
    alignas(8) char buffer[4096];
    const ssize_t got = getdents64(dir.Get(), buffer, sizeof(buffer));
    ASSERT_GT(got, 0);
    std::vector<std::string> names;
    const char* name = nullptr;
    const std::span<const char> records(buffer, static_cast<std::size_t>(got));
    std::size_t at = 0;
    while (NextDirectoryRecord(records, at, name)) names.emplace_back(name);
    EXPECT_EQ(at, static_cast<std::size_t>(got)) << "every record, to the last byte";
    EXPECT_NE(std::find(names.begin(), names.end(), "0"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), std::to_string(dir.Get())), names.end());
}

TEST(DirectoryRecords, EndsAtARecordThatDoesNotLieWholeInsideTheBuffer) {
    Records records;
    records.Add("0");
    const std::size_t second = records.Add("1");
    records.Add("255", 0);
    EXPECT_EQ(records.Names(), (std::vector<std::string>{"0", "1", "255"}));

    Records tooLong = records;
    tooLong.SetLength(second, 4096);
    EXPECT_EQ(tooLong.Names(), (std::vector<std::string>{"0"}));
    Records empty = records;
    empty.SetLength(second, 0);  // would never move on
    EXPECT_EQ(empty.Names(), (std::vector<std::string>{"0"}));
    Records headerOnly = records;
    headerOnly.SetLength(second, 19);
    EXPECT_EQ(headerOnly.Names(), (std::vector<std::string>{"0"}));

    Records unended;
    unended.Add("12", 0);
    unended.bytes.back() = '3';  // the NUL is gone
    EXPECT_TRUE(unended.Names().empty());
    Records cut = records;
    cut.bytes.resize(cut.bytes.size() - 1);
    EXPECT_EQ(cut.Names(), (std::vector<std::string>{"0", "1"}));
}

TEST(ParseProcessId, TakesOnlyPlainDecimalNumbersThatFitIn32Bits) {
    ProcessId id = 7;
    EXPECT_TRUE(ParseProcessId("1", id));
    EXPECT_EQ(id, 1u);
    EXPECT_TRUE(ParseProcessId("4294967295", id));
    EXPECT_EQ(id, 4294967295u);
    for (const char* name : {"", "0", "01", "4294967296", "12a", "self", "+5", " 5", "5 ", "-1"}) {
        SCOPED_TRACE(name);
        id = 7;
        EXPECT_FALSE(ParseProcessId(name, id));
        EXPECT_EQ(id, 7u);
    }
}

}  // namespace
}  // namespace vesperlin::sysinfo::procfs
