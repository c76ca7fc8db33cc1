#include "sysinfo/device_path.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vesperlin::sysinfo {
namespace {

// The platform's drive table as a script; records every name it is asked for.
class ScriptedDrives {
  public:
    ScriptedDrives(std::initializer_list<std::pair<const std::string, std::string>> table)
        : targets(table) {}

    DriveTargetLookup Lookup() {
        return [this](const std::string& drive, std::string& target) {
            asked.push_back(drive);
            const auto found = targets.find(drive);
            if (found == targets.end()) return false;
            target = found->second;
            return true;
        };
    }

    std::map<std::string, std::string> targets;
    std::vector<std::string> asked;
};

// The device form of `path`, or "<false>" when the translation fails (the output then must
// still hold what it held before).
std::string Translate(ScriptedDrives& drives, const std::string& path) {
    std::string result = "untouched";
    if (!GetDeviceFileName(path, result, drives.Lookup())) {
        EXPECT_EQ(result, "untouched") << "a failed translation changed its output";
        return "<false>";
    }
    return result;
}

TEST(GetDeviceFileName, AppendsThePathToTheDrivesTarget) {
    ScriptedDrives drives({{"C:", "\\Device\\HarddiskVolume1"}});
    EXPECT_EQ(Translate(drives, "C:\\Windows\\notepad.exe"),
              "\\Device\\HarddiskVolume1\\Windows\\notepad.exe");
    EXPECT_EQ(Translate(drives, "C:"), "\\Device\\HarddiskVolume1");
}

TEST(GetDeviceFileName, AsksForTheDriveInTheCaseThePathHas) {
    ScriptedDrives drives({{"C:", "\\Device\\HarddiskVolume1"}});
    EXPECT_EQ(Translate(drives, "c:\\x"), "<false>");
    EXPECT_EQ(drives.asked, (std::vector<std::string>{"c:"}));
}

TEST(GetDeviceFileName, FailsWithoutChangingTheOutputWhenTheDriveHasNoTarget) {
    ScriptedDrives drives({});
    EXPECT_EQ(Translate(drives, "Q:\\data\\report.txt"), "<false>");
    EXPECT_EQ(Translate(drives, "relative\\path.txt"), "<false>");
    EXPECT_EQ(drives.asked, (std::vector<std::string>{"Q:", "re"}));
}

TEST(GetDeviceFileName, HandlesPathsShorterThanADriveName) {
    ScriptedDrives drives({{"X", "\\Device\\Odd"}});
    EXPECT_EQ(Translate(drives, "X"), "\\Device\\Odd");
    EXPECT_EQ(Translate(drives, "Y"), "<false>");
    EXPECT_EQ(Translate(drives, ""), "<false>");
    EXPECT_EQ(drives.asked, (std::vector<std::string>{"X", "Y"}));
}

TEST(GetDeviceFileName, BuildsResultsOfAnyLength) {
    const std::string longTarget = "\\Device\\" + std::string(5000, 'v');
    ScriptedDrives drives({{"C:", longTarget}});
    std::string path = "C:";
    for (int i = 0; i < 400; ++i) path += "\\folder" + std::to_string(i);
    const std::string result = Translate(drives, path);
    EXPECT_EQ(result, longTarget + path.substr(2));
    EXPECT_GT(result.size(), 8000u);
}

TEST(GetDeviceFileName, NamesFilesOnMappedDrivesUnderMup) {
    ScriptedDrives drives({{"Z:", "\\Device\\LanmanRedirector\\;Z:0\\srv\\pub"},
                           {"Y:", "\\Device\\LanmanRedirector\\;Y:0000000000012ab3\\server\\share"},
                           {"X:", "\\Device\\LanmanRedirector\\;X:00ab\\srv\\pub"}});
    EXPECT_EQ(Translate(drives, "Z:\\docs\\a.txt"), "\\Device\\Mup\\srv\\pub\\docs\\a.txt");
    // The logon id is hexadecimal.
    EXPECT_EQ(Translate(drives, "Y:\\report.docx"), "\\Device\\Mup\\server\\share\\report.docx");
    EXPECT_EQ(Translate(drives, "X:\\a.txt"), "\\Device\\Mup\\srv\\pub\\a.txt");
    EXPECT_EQ(Translate(drives, "Y:"), "\\Device\\Mup\\server\\share");
}

TEST(GetDeviceFileName, KeepsSpacesInTheNameOfAMappedShare) {
    ScriptedDrives drives({{"Z:", "\\Device\\LanmanRedirector\\;Z:0\\srv\\my pub"}});
    EXPECT_EQ(Translate(drives, "Z:\\a.txt"), "\\Device\\Mup\\srv\\my pub\\a.txt");
}

TEST(GetDeviceFileName, RejectsMappedDriveTargetsItCannotRead) {
    ScriptedDrives drives({
        {"A:", "\\device\\lanmanredirector\\;A:0\\srv\\pub"},  // literal text in another case
        {"B:", "\\Device\\LanmanRedirector\\;B:\\srv\\pub"},   // no logon id
        {"D:", "\\Device\\LanmanRedirector\\;D:00zz\\srv"},    // id not hexadecimal
        {"E:", "\\Device\\LanmanRedirector\\;E:0\\"},          // no server
        {"F:", "\\Device\\LanmanRedirector\\srv\\pub"},        // no drive and id part
        {"G:", "\\Device\\LanmanRedirector\\;G"},              // cut short
    });
    for (const char* drive : {"A:", "B:", "D:", "E:", "F:", "G:"})
        EXPECT_EQ(Translate(drives, std::string(drive) + "\\a.txt"), "<false>") << drive;
}

TEST(GetDeviceFileName, NamesServerPathsUnderMupWithoutAskingTheDriveTable) {
    ScriptedDrives drives({});
    EXPECT_EQ(Translate(drives, "\\\\server\\share\\dir\\file.txt"),
              "\\Device\\Mup\\server\\share\\dir\\file.txt");
    EXPECT_EQ(Translate(drives, "\\\\?\\UNC\\server\\share\\f"), "\\Device\\Mup\\server\\share\\f");
    EXPECT_EQ(Translate(drives, "\\\\"), "<false>");
    EXPECT_EQ(Translate(drives, "\\\\\\share"), "<false>");
    EXPECT_TRUE(drives.asked.empty());
}

TEST(GetDeviceFileName, TranslatesLocalDevicePathsThroughTheirDeviceName) {
    ScriptedDrives drives({{"C:", "\\Device\\HarddiskVolume1"}, {"PIPE", "\\Device\\NamedPipe"}});
    EXPECT_EQ(Translate(drives, "\\\\?\\C:\\very\\long\\path.txt"),
              "\\Device\\HarddiskVolume1\\very\\long\\path.txt");
    EXPECT_EQ(Translate(drives, "\\\\.\\PIPE\\vesperlin"), "\\Device\\NamedPipe\\vesperlin");
    EXPECT_EQ(Translate(drives, "\\\\.\\NOSUCH\\x"), "<false>");
    EXPECT_EQ(Translate(drives, "\\\\?\\"), "<false>");
}

TEST(GetDeviceFileName, FollowsSubstitutedDrivesToTheirVolume) {
    ScriptedDrives drives({{"C:", "\\Device\\HarddiskVolume1"},
                           {"S:", "\\??\\C:\\projects"},
                           {"T:", "\\??\\S:\\deeper"},
                           {"L:", "\\??\\L:\\loop"}});
    EXPECT_EQ(Translate(drives, "S:\\a.txt"), "\\Device\\HarddiskVolume1\\projects\\a.txt");
    EXPECT_EQ(Translate(drives, "T:\\a.txt"), "\\Device\\HarddiskVolume1\\projects\\deeper\\a.txt");
    // A drive table that loops ends in some answer, never in endless lookups.
    Translate(drives, "L:\\a.txt");
    EXPECT_LT(drives.asked.size(), 30u);
}

TEST(Win32NamespaceForm, PrefixesDrivePathsAndServerPaths) {
    EXPECT_EQ(Win32NamespaceForm("C:\\dir\\file.txt"), "\\??\\C:\\dir\\file.txt");
    EXPECT_EQ(Win32NamespaceForm("\\\\srv\\share\\f"), "\\??\\UNC\\srv\\share\\f");
    EXPECT_EQ(Win32NamespaceForm("\\\\?\\C:\\x"), "\\??\\C:\\x");
    EXPECT_EQ(Win32NamespaceForm("relative\\x"), "");
    EXPECT_EQ(Win32NamespaceForm("\\\\"), "");
    EXPECT_EQ(Win32NamespaceForm(""), "");
}

TEST(WindowsHandleNames, ListsEveryFormOfTheDeviceFormAndTheNamespaceForm) {
    const std::string forms = std::string("\\Device\\Mup\\;LanmanRedirector\\srv\\pub\\a.txt") +
                              kDeviceFormSeparator + "\\Device\\Mup\\srv\\pub\\a.txt";
    EXPECT_EQ(
        WindowsHandleNames(forms, "\\\\srv\\pub\\a.txt"),
        (std::vector<std::string>{"\\Device\\Mup\\;LanmanRedirector\\srv\\pub\\a.txt",
                                  "\\Device\\Mup\\srv\\pub\\a.txt", "\\??\\UNC\\srv\\pub\\a.txt"}));
    EXPECT_EQ(WindowsHandleNames("\\Device\\HarddiskVolume1\\x", "relative"),
              std::vector<std::string>{"\\Device\\HarddiskVolume1\\x"});
    EXPECT_TRUE(WindowsHandleNames("", "").empty());
}

TEST(TrimTrailingSeparators, NamesTheFolderButKeepsADrivesRoot) {
    EXPECT_EQ(TrimTrailingSeparators("C:\\dir\\"), "C:\\dir");
    EXPECT_EQ(TrimTrailingSeparators("C:\\dir\\\\/"), "C:\\dir");
    EXPECT_EQ(TrimTrailingSeparators("C:\\dir"), "C:\\dir");
    EXPECT_EQ(TrimTrailingSeparators("C:\\"), "C:\\");
    EXPECT_EQ(TrimTrailingSeparators("C:\\\\"), "C:\\");
    EXPECT_EQ(TrimTrailingSeparators("\\\\?\\C:\\"), "\\\\?\\C:\\");
    EXPECT_EQ(TrimTrailingSeparators("\\\\srv\\share\\"), "\\\\srv\\share");
    EXPECT_EQ(TrimTrailingSeparators("\\"), "\\");
    EXPECT_EQ(TrimTrailingSeparators(""), "");
}

TEST(FullPathOfFinalPath, DropsTheExtendedLengthPrefix) {
    EXPECT_EQ(FullPathOfFinalPath("\\\\?\\C:\\dir\\file"), "C:\\dir\\file");
    EXPECT_EQ(FullPathOfFinalPath("\\\\?\\C:\\"), "C:\\");
    EXPECT_EQ(FullPathOfFinalPath("\\\\?\\UNC\\srv\\share\\f"), "\\\\srv\\share\\f");
    // A volume without a drive letter keeps the only name it has.
    EXPECT_EQ(FullPathOfFinalPath("\\\\?\\Volume{1234}\\f"), "\\\\?\\Volume{1234}\\f");
    EXPECT_EQ(FullPathOfFinalPath("C:\\plain"), "C:\\plain");
}

TEST(NamesFileOnVolume, OpensDrivesAndSharesButNeverDevices) {
    for (const char* path : {"C:\\", "c:\\dir\\f.txt", "C:/dir", "\\\\srv\\share\\f",
                             "\\\\?\\C:\\long", "\\\\?\\UNC\\srv\\share\\f"}) {
        EXPECT_TRUE(NamesFileOnVolume(path)) << path;
    }
    for (const char* path : {"C:", "C:relative", "relative\\f", "\\\\.\\pipe\\x", "\\\\.\\COM1",
                             "\\\\?\\pipe\\x", "\\\\.\\C:", "\\\\", "\\\\?\\UNC\\", ""}) {
        EXPECT_FALSE(NamesFileOnVolume(path)) << path;
    }
}

TEST(IsNamedPipePath, KnowsPipesInEitherPrefixAndAnyCase) {
    EXPECT_TRUE(IsNamedPipePath("\\\\.\\pipe\\x"));
    EXPECT_TRUE(IsNamedPipePath("\\\\?\\PIPE\\x"));
    EXPECT_FALSE(IsNamedPipePath("\\\\.\\pipe\\"));
    EXPECT_FALSE(IsNamedPipePath("\\\\.\\pipes\\x"));
    EXPECT_FALSE(IsNamedPipePath("C:\\pipe\\x"));
    EXPECT_FALSE(IsNamedPipePath("\\\\srv\\pipe\\x"));
}

}  // namespace
}  // namespace vesperlin::sysinfo
