#include <gtest/gtest.h>

#include "sysinfo/file_use.h"

using namespace vesperlin::sysinfo;

using Texts = std::vector<std::string>;

TEST(MappingPermissions, RoundTripEveryColumnAndRefuseOthers) {
    std::uint16_t all = 0;
    for (const char* r : {"r", "-"})
        for (const char* w : {"w", "-"})
            for (const char* x : {"x", "-"})
                for (const char* p : {"p", "s"}) {
                    const std::string column = std::string(r) + w + x + p;
                    const std::uint16_t bit = MappingPermissionsBit(column);
                    ASSERT_NE(bit, 0) << column;
                    EXPECT_EQ(bit & all, 0) << column << " shares a bit";
                    all |= bit;
                    EXPECT_EQ(MappingPermissionTexts(bit), Texts{column});
                }
    EXPECT_EQ(all, 0xFFFF);
    for (const char* bad : {"", "r-x", "r-xpp", "R-xp", "rxwp", "r-x-", "w--p"})
        EXPECT_EQ(MappingPermissionsBit(bad), 0) << bad;
}

TEST(MappingPermissions, ListSeveralInOneFixedOrder) {
    const std::uint16_t mappings = MappingPermissionsBit("rw-p") | MappingPermissionsBit("r--p") |
                                   MappingPermissionsBit("r-xp");
    EXPECT_EQ(MappingPermissionTexts(mappings), (Texts{"r--p", "rw-p", "r-xp"}));
    EXPECT_TRUE(MappingPermissionTexts(0).empty());
}

TEST(WindowsAccess, DecodesTheRightsOfCommonOpens) {
    struct Case {
        std::uint32_t mask;
        Texts names;
    };
    const Case cases[] = {
        {0x00120089, {"read", "synchronise"}},           // FILE_GENERIC_READ
        {0x00120116, {"write", "synchronise"}},          // FILE_GENERIC_WRITE
        {0x001200A0, {"execute", "synchronise"}},        // FILE_GENERIC_EXECUTE
        {0x0012019F, {"read", "write", "synchronise"}},  // read and write
        {0x001F01FF, {"read", "write", "delete", "execute", "synchronise"}},  // FILE_ALL_ACCESS
        {0x00010080, {"delete"}},  // DELETE | read attributes
        {0x00000004, {"write"}},   // append only
        {0x00000080, {}},          // attributes only
        {0x80000000, {"read"}},    // GENERIC_READ, unmapped
        {0x10000000, {"read", "write", "delete", "execute", "synchronise"}},  // GENERIC_ALL
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AccessNames(AccessOfWindowsMask(c.mask)), c.names) << std::hex << c.mask;
    }
}
