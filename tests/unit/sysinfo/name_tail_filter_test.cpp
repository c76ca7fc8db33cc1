#include "sysinfo/name_tail_filter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace vesperlin::sysinfo;

using vesperlin::sysinfo::NameTailFilter;

namespace {

bool Admits(const NameTailFilter& filter, const std::u16string& path) {
    return filter.Admits(path.data(), path.size());
}

}  // namespace

TEST(NameTailFilter, AdmitsTheVolumePathOfEveryFormOfALookedForName) {
    const NameTailFilter filter(
        {u"\\Device\\HarddiskVolume1\\Data\\report.txt", u"\\??\\C:\\Data\\report.txt"});
    EXPECT_TRUE(Admits(filter, u"\\Data\\report.txt"));
    // Any tail that starts at a backslash could be a volume's path.
    EXPECT_TRUE(Admits(filter, u"\\report.txt"));
    EXPECT_TRUE(Admits(filter, u"\\C:\\Data\\report.txt"));
    EXPECT_TRUE(Admits(filter, u"\\Device\\HarddiskVolume1\\Data\\report.txt"));
}

TEST(NameTailFilter, RejectsPathsThatNoLookedForNameEndsWith) {
    const NameTailFilter filter({u"\\Device\\HarddiskVolume1\\Data\\report.txt"});
    EXPECT_FALSE(Admits(filter, u"\\Data\\report.txt.old"));
    EXPECT_FALSE(Admits(filter, u"\\Data\\report.tx"));
    EXPECT_FALSE(Admits(filter, u"\\Other\\report.txt"));
    EXPECT_FALSE(Admits(filter, u"\\ata\\report.txt"));
    EXPECT_FALSE(Admits(filter, u"\\Data\\report.txt\\"));
    EXPECT_FALSE(Admits(filter, u"\\Data\\"));
}

TEST(NameTailFilter, IgnoresCaseInEveryScriptAndNeverRejectsWhatThePlatformCallsEqual) {
    const NameTailFilter filter({u"\\Device\\HarddiskVolume2\\Łódź\\Фото\\file.TXT"});
    EXPECT_TRUE(Admits(filter, u"\\łÓDŹ\\фото\\FILE.txt"));
    // The platform's upper-case table maps dotless i onto I and long s onto S.
    EXPECT_TRUE(Admits(filter, u"\\ŁÓDŹ\\ФОТО\\fıle.txt"));
    const NameTailFilter plain({u"\\Device\\HarddiskVolume2\\Sets\\list"});
    EXPECT_TRUE(Admits(plain, u"\\ſets\\lıst"));
    // Beyond that, letters that differ are told apart.
    EXPECT_FALSE(Admits(filter, u"\\Łódź\\Фото\\fale.txt"));
}

TEST(NameTailFilter, AdmitsWhatItCannotTellApart) {
    const NameTailFilter filter({u"\\Device\\HarddiskVolume1\\a.txt"});
    // Not a path from a volume's root: only the full name can tell.
    EXPECT_TRUE(Admits(filter, u"a.txt"));
    EXPECT_TRUE(Admits(filter, u""));
}

TEST(NameTailFilter, AdmitsTheRootOfALookedForDrive) {
    const NameTailFilter filter({u"\\Device\\HarddiskVolume1\\"});
    EXPECT_TRUE(Admits(filter, u"\\"));
    EXPECT_FALSE(Admits(filter, u"\\Windows"));
}

TEST(NameTailFilter, AdmitsNothingWhenNothingIsLookedFor) {
    const NameTailFilter filter({});
    EXPECT_FALSE(Admits(filter, u"\\a.txt"));
    EXPECT_FALSE(Admits(filter, u"\\"));
}

TEST(NameTailFilter, TellsTheFilesOfALargeFolderFromTheirNeighbours) {
    std::vector<std::u16string> names;
    for (int i = 0; i < 5000; ++i) {
        const std::string digits = std::to_string(i);
        names.push_back(u"\\Device\\HarddiskVolume1\\big\\file-" +
                        std::u16string(digits.begin(), digits.end()) + u".dat");
    }
    const NameTailFilter filter(names);
    int admitted = 0, strangers = 0;
    for (int i = 0; i < 6000; ++i) {
        const std::string digits = std::to_string(i);
        const std::u16string number(digits.begin(), digits.end());
        admitted += Admits(filter, u"\\big\\file-" + number + u".dat");
        strangers += Admits(filter, u"\\big\\file-" + number + u".dat.bak");
    }
    EXPECT_EQ(admitted, 5000);
    EXPECT_EQ(strangers, 0);
}
