// Files mapped as data, found in our own address space and in helper processes that map a file
// and close every handle to it, and the usage query's mapped pass over the real system.
#include "sysinfo/win32/mapped_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "query/usage_query.h"
#include "support/holder_process.h"
#include "sysinfo/device_path.h"
#include "sysinfo/platform_system.h"
#include "sysinfo/win32/dos_devices.h"
#include "base/win32/unique_handle.h"
#include "base/win32/wide_text.h"
#include "sysinfo/win32/wide_text.h"
#include "sysinfo_test_tools.h"

namespace vesperlin::sysinfo::win32 {
namespace {

using testing::HolderProcess;
using testing::MessageLog;
using testing::TempFolder;

// Whether `names` holds a name under which the platform may give `path` (device form on
// Windows, namespace form under Wine).
bool NamesFile(const std::vector<std::string>& names, const std::string& path) {
    std::string device;
    GetDeviceFileName(path, device);
    const std::vector<std::string> forms = WindowsHandleNames(device, path);
    return std::any_of(names.begin(), names.end(), [&](const std::string& name) {
        return std::any_of(forms.begin(), forms.end(),
                           [&](const std::string& form) { return EqualIgnoringCase(name, form); });
    });
}

std::vector<std::string> OwnMappedNames(const NameTailFilter* filter = nullptr) {
    std::vector<std::string> names;
    EXPECT_TRUE(ListMappedFileNames(GetCurrentProcess(), filter, names));
    return names;
}

// A view of a file in our own process whose file and mapping handles are closed at once.
struct OwnView {
    explicit OwnView(const std::string& path, DWORD offset = 0) {
        base::UniqueFileHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                OPEN_EXISTING, 0, nullptr));
        if (!file) return;
        base::UniqueKernelHandle mapping(
            CreateFileMappingA(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
        if (mapping) view = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, offset, 0);
    }
    ~OwnView() {
        if (view) UnmapViewOfFile(view);
    }
    OwnView(const OwnView&) = delete;
    OwnView& operator=(const OwnView&) = delete;
    void* view = nullptr;
};

TEST(MappedFileNames, ListAViewWhoseHandlesAreClosedUntilItIsUnmapped) {
    TempFolder folder;
    const std::string file = folder.MakeFile("viewed.bin", std::string(70000, 'v'));
    {
        OwnView first(file);
        OwnView second(file, 65536);  // a second view of the same file: still one name
        ASSERT_NE(first.view, nullptr);
        ASSERT_NE(second.view, nullptr);
        const std::vector<std::string> names = OwnMappedNames();
        EXPECT_TRUE(NamesFile(names, file));
        EXPECT_EQ(std::count_if(names.begin(), names.end(),
                                [&](const std::string& name) { return NamesFile({name}, file); }),
                  1);
    }
    EXPECT_FALSE(NamesFile(OwnMappedNames(), file));
}

TEST(MappedFileNames, LeaveImagesAndPagingFileSectionsToOthers) {
    base::UniqueKernelHandle anonymous(
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 65536, nullptr));
    ASSERT_TRUE(anonymous);
    void* view = MapViewOfFile(anonymous.get(), FILE_MAP_WRITE, 0, 0, 0);
    ASSERT_NE(view, nullptr);
    char self[MAX_PATH * 4] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    const std::vector<std::string> names = OwnMappedNames();
    // Our executable is an image mapping: the module snapshot's.
    EXPECT_FALSE(NamesFile(names, self));
    EXPECT_TRUE(std::none_of(names.begin(), names.end(),
                             [](const std::string& name) { return name.empty(); }));
    UnmapViewOfFile(view);
}

TEST(MappedFileNames, KeepOnlyWhatTheFilterAdmits) {
    TempFolder folder;
    const std::string wanted = folder.MakeFile("wanted.bin");
    const std::string other = folder.MakeFile("other.bin");
    OwnView wantedView(wanted), otherView(other);
    ASSERT_NE(wantedView.view, nullptr);
    ASSERT_NE(otherView.view, nullptr);
    std::string device;
    ASSERT_TRUE(GetDeviceFileName(wanted, device));
    std::vector<std::u16string> forms;
    for (const std::string& form : WindowsHandleNames(device, wanted)) {
        const std::wstring wide = base::WideFromNarrow(form);
        forms.emplace_back(wide.begin(), wide.end());
    }
    const NameTailFilter filter(forms);
    const std::vector<std::string> names = OwnMappedNames(&filter);
    EXPECT_TRUE(NamesFile(names, wanted));
    EXPECT_FALSE(NamesFile(names, other));
}

// A process that stops answering questions about its address space, as one under Wine that
// cannot run the thread that answers them: the question waits until the test lets it go.
DWORD silentProcess = 0;
HANDLE letGo = nullptr;
std::atomic<int> silentQuestions{0};

SIZE_T WINAPI SilentForOne(HANDLE process, LPCVOID address, PMEMORY_BASIC_INFORMATION info,
                           SIZE_T length) {
    if (GetProcessId(process) == silentProcess) {
        ++silentQuestions;
        WaitForSingleObject(letGo, INFINITE);
    }
    return VirtualQueryEx(process, address, info, length);
}

bool Lists(const MappedFileSnapshot& snapshot, DWORD processId, const std::string& file) {
    std::vector<std::string> names;
    for (const MappedFileEntry& entry : snapshot.Entries())
        if (entry.ProcessId == processId) names.push_back(entry.Name);
    return NamesFile(names, file);
}

bool Denies(const MappedFileSnapshot& snapshot, DWORD processId) {
    const std::vector<DWORD>& denied = snapshot.DeniedProcesses();
    return std::find(denied.begin(), denied.end(), processId) != denied.end();
}

TEST(MappedFileSnapshot, GivesUpAProcessThatStopsAnsweringAndWalksTheRest) {
    TempFolder folder;
    const std::string file = folder.MakeFile("shared.bin");
    HolderProcess silent({"--map", file});
    HolderProcess talking({"--map", file});
    ASSERT_TRUE(silent.Started() && talking.Started());
    base::UniqueKernelHandle release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(release);
    letGo = release.get();
    silentProcess = silent.Id();
    silentQuestions = 0;
    mappedRegionQuery = SilentForOne;
    MessageLog messages;

    MappedFileSnapshot first(messages);
    ASSERT_TRUE(first.Refresh());  // returns although one question never comes back
    EXPECT_TRUE(Lists(first, talking.Id(), file));
    EXPECT_FALSE(Lists(first, silent.Id(), file));
    EXPECT_TRUE(Denies(first, silent.Id())) << "counted as a process that could not be inspected";
    EXPECT_FALSE(Denies(first, talking.Id()));

    // While that question is out, a new walk does not ask the process again.
    MappedFileSnapshot second(messages);
    ASSERT_TRUE(second.Refresh());
    EXPECT_TRUE(Denies(second, silent.Id()));
    EXPECT_TRUE(Lists(second, talking.Id(), file));
    EXPECT_EQ(silentQuestions, 1);

    // Once it is answered, the process is walked again.
    SetEvent(release.get());
    bool listed = false;
    for (int attempt = 0; attempt < 200 && !listed; ++attempt) {
        MappedFileSnapshot later(messages);
        ASSERT_TRUE(later.Refresh());
        listed = Lists(later, silent.Id(), file);
        if (!listed) Sleep(50);
    }
    EXPECT_TRUE(listed);
    mappedRegionQuery = VirtualQueryEx;
    EXPECT_TRUE(messages.shown.empty());
}

std::string HolderLine(const HolderProcess& holder) {
    char line[64];
    std::snprintf(line, sizeof line, "0x%04lX  vesperlin-holder.exe", holder.Id());
    return line;
}

class MappedPass : public ::testing::Test {
  protected:
    // QueryPath over the real system; the hits of the holder are kept.
    std::vector<std::string> Query(const std::string& path, DWORD holderId) {
        query::VectorResultList results;
        holderHits.clear();
        query::QueryPath(*system, results, messages, path, query::kNotUsedFormat,
                         [&](const query::Hit& hit) {
                             if (hit.processId == holderId) holderHits.push_back(hit);
                         });
        return results.Lines();
    }

    TempFolder folder;
    MessageLog messages;
    std::unique_ptr<System> system = CreatePlatformSystem(messages);
    std::vector<query::Hit> holderHits;
};

TEST_F(MappedPass, FindsAProcessThatOnlyMapsTheFileUntilItUnmaps) {
    const std::string file = folder.MakeFile("mapped.bin");
    const std::string event = "vesperlin-unmap-" + std::to_string(GetCurrentProcessId()) + "-1";
    HolderProcess holder({"--map", file, "--unmap-on", event});
    ASSERT_TRUE(holder.Started());

    const std::vector<std::string> lines = Query(file, holder.Id());
    EXPECT_NE(std::find(lines.begin(), lines.end(), HolderLine(holder)), lines.end());
    ASSERT_EQ(holderHits.size(), 1u);
    EXPECT_TRUE(holderHits[0].asMapped);
    EXPECT_FALSE(holderHits[0].asModule);
    EXPECT_EQ(holderHits[0].path, file);
    EXPECT_TRUE(messages.shown.empty());

    base::UniqueKernelHandle request(OpenEventA(EVENT_MODIFY_STATE, FALSE, event.c_str()));
    base::UniqueKernelHandle done(OpenEventA(SYNCHRONIZE, FALSE, (event + ".unmapped").c_str()));
    ASSERT_TRUE(request && done);
    ASSERT_TRUE(SetEvent(request.get()));
    ASSERT_EQ(WaitForSingleObject(done.get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(Query(file, holder.Id()), std::vector<std::string>{"mapped.bin is not used."});
    EXPECT_TRUE(holderHits.empty());
}

TEST_F(MappedPass, AMappedFileThatIsAlsoOpenGivesOneLine) {
    const std::string file = folder.MakeFile("both.bin");
    HolderProcess holder({"--map", file, "--file", file});
    ASSERT_TRUE(holder.Started());
    const std::vector<std::string> lines = Query(file, holder.Id());
    EXPECT_EQ(std::count(lines.begin(), lines.end(), HolderLine(holder)), 1);
    // Found through its handle; its address space is then not walked.
    ASSERT_EQ(holderHits.size(), 1u);
    EXPECT_FALSE(holderHits[0].asMapped);

    // In a folder query the holder is reported for one entry of several, so it is walked: the
    // mapped hit gives the same line, which is not listed twice.
    folder.MakeFile("other.bin");
    query::VectorResultList results;
    int mappedHits = 0;
    ASSERT_TRUE(query::ExpandFolder(*system, results, folder.Path(), [&](const query::Hit& hit) {
        mappedHits += hit.processId == holder.Id() && hit.asMapped;
    }));
    EXPECT_EQ(mappedHits, 1);
    EXPECT_EQ(results.Lines(), std::vector<std::string>{HolderLine(holder) + " (" + file + ")"});
}

TEST_F(MappedPass, NamesTheMatchedEntryOfAFolder) {
    const std::string file = folder.MakeFile("entry.bin");
    folder.MakeFile("untouched.bin");
    HolderProcess holder({"--map", file});
    ASSERT_TRUE(holder.Started());
    query::VectorResultList results;
    ASSERT_TRUE(query::ExpandFolder(*system, results, folder.Path()));
    EXPECT_EQ(results.Lines(), std::vector<std::string>{HolderLine(holder) + " (" + file + ")"});
}

}  // namespace
}  // namespace vesperlin::sysinfo::win32
