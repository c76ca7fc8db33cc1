#include "sysinfo/win32/file_handles.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "base/win32/wide_text.h"
#include "sysinfo/device_path.h"
#include "sysinfo/file_use.h"
#include "sysinfo/name_tail_filter.h"
#include "sysinfo/win32/handle_snapshot.h"

namespace vesperlin::sysinfo::win32 {

namespace {

// The handle value and access of a table row: how its process uses the file.
FileUse UseOfRow(const HandleEntry& entry) {
    FileUse use = UseOf(UseKind::Handle);
    use.number = reinterpret_cast<std::uintptr_t>(entry.HandleValue);
    use.accessKnown = true;
    use.access = AccessOfWindowsMask(entry.GrantedAccess);
    return use;
}

class WindowsFileHandles : public FileHandleSnapshot {
  public:
    WindowsFileHandles() { snapshot.SetTypeFilter("File", true); }

    std::size_t Count() const override { return snapshot.Entries().size(); }
    std::vector<DWORD> DeniedOwners() const { return snapshot.DeniedOwners(); }

    void LimitNamesTo(std::vector<HandleTarget> targets) override {
        // Any row may lie under a folder or on a volume: only its name can tell.
        const bool wider = std::any_of(targets.begin(), targets.end(), [](const HandleTarget& t) {
            return t.scope != Scope::Exact;
        });
        if (wider) {
            filter = nullptr;
            return;
        }
        std::vector<std::u16string> names;
        for (const HandleTarget& target : targets)
            for (const std::string& name : WindowsHandleNames(target.deviceForm, target.fullPath)) {
                const std::wstring wide = base::WideFromNarrow(name);
                names.emplace_back(wide.begin(), wide.end());
            }
        filter = std::make_shared<const NameTailFilter>(names);
    }

    void VisitUses(const UseVisitor& visit) override {
        ProbePoolOptions options;
        options.naming = true;
        options.filter = filter;
        std::vector<ProbeItem> items = snapshot.TakeProbeItems(options.keepAlive);
        // The pool copies, probes, names and closes ahead of us; rows are still taken in order.
        ProbePool pool(std::move(items), std::move(options));
        const std::vector<HandleEntry>& rows = snapshot.Entries();
        std::string name;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const bool named = pool.TakeName(i, name);
            if (!named) name.clear();
            if (!visit(rows[i].ProcessId, named, name, UseOfRow(rows[i]))) break;
        }
    }  // the pool closes every copy it holds before the visit returns

  private:
    HandleSnapshot snapshot{HandleSnapshot::AllProcesses, false};
    std::shared_ptr<const NameTailFilter> filter;  // null: every row is named
};

}  // namespace

std::unique_ptr<FileHandleSnapshot> TakeFileHandleSnapshot(Messages&,
                                                           std::vector<DWORD>* deniedOwners) {
    auto snapshot = std::make_unique<WindowsFileHandles>();
    if (deniedOwners) *deniedOwners = snapshot->DeniedOwners();
    return snapshot;
}

}  // namespace vesperlin::sysinfo::win32
