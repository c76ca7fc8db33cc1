#pragma once
// Starts vesperlin-holder.exe (found beside the test executable) with the given options, waits
// until it holds everything, and terminates it when the object goes.
#include <windows.h>

#include <string>
#include <vector>

namespace vesperlin::testing {

// Folder of the running test executable, with a trailing backslash.
std::string ExecutableFolder();

// A fresh, empty folder under the system's temporary folder, removed with its contents when the
// object goes (best effort: files still held open elsewhere may stay).
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return path; }
    // Creates a file with the given content inside the folder and returns its full path.
    std::string MakeFile(const std::string& name, const std::string& content = "x") const;
    std::string MakeSubfolder(const std::string& name) const;

  private:
    std::string path;
};

class HolderProcess {
  public:
    // Options as the holder takes them, without --ready. Started at once; Started() tells.
    explicit HolderProcess(const std::vector<std::string>& options, DWORD timeoutMs = 10000);
    ~HolderProcess();
    HolderProcess(const HolderProcess&) = delete;
    HolderProcess& operator=(const HolderProcess&) = delete;

    bool Started() const { return processId != 0; }
    DWORD Id() const { return processId; }
    HANDLE Process() const { return process; }
    void Stop();

  private:
    HANDLE process = nullptr;
    DWORD processId = 0;
    TempFolder readyFolder;
};

}  // namespace vesperlin::testing
