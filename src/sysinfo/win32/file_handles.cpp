#include "sysinfo/win32/file_handles.h"

#include <string>

#include "sysinfo/win32/handle_names.h"
#include "sysinfo/win32/handle_snapshot.h"

namespace vesperlin::win32 {

namespace {

class WindowsFileHandles : public FileHandleSnapshot {
  public:
    WindowsFileHandles() { snapshot.SetTypeFilter("File", true); }

    std::size_t Count() const override { return snapshot.Entries().size(); }

    void VisitNames(const Visitor& visit) override {
        for (const HandleEntry& entry : snapshot.Entries()) {
            std::string name;
            const bool named = ResolveHandleName(entry.HandleValue, name, entry.ProcessId);
            if (!visit(entry.ProcessId, named, named ? name : std::string())) return;
        }
    }

  private:
    HandleSnapshot snapshot;
};

}  // namespace

std::unique_ptr<FileHandleSnapshot> TakeFileHandleSnapshot(Messages&) {
    return std::make_unique<WindowsFileHandles>();
}

}  // namespace vesperlin::win32
