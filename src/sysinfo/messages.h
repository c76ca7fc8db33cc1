#pragma once
// Where failure texts go: a message box with OK in the desktop program, standard error in the
// console program, a recorder in tests. The texts are fixed English and shown unchanged.

#include <string>

namespace vesperlin::sysinfo {

class Messages {
  public:
    virtual ~Messages() = default;
    virtual void Show(const std::string& text) = 0;
};

// Drops every message; for callers that report failures some other way.
class SilentMessages : public Messages {
  public:
    void Show(const std::string&) override {}
};

}  // namespace vesperlin::sysinfo
